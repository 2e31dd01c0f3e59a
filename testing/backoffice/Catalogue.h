#pragma once
// The back-office server's sample data: styles with sizes, colours, prepacks, stock, prices
// and images; customers with stores; order types; divisions; warehouses; the server's
// choice lists; printers; users with passwords; pick tickets. Read from the JSON files of a
// data folder (styles.json, customers.json, ...); a missing file gives an empty list, a
// malformed one an error that names it.

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

namespace backoffice {

struct Catalogue {
  nlohmann::json users = nlohmann::json::array();
  nlohmann::json styles = nlohmann::json::array();
  nlohmann::json customers = nlohmann::json::array();
  nlohmann::json orderTypes = nlohmann::json::array();
  nlohmann::json divisions = nlohmann::json::array();
  nlohmann::json warehouses = nlohmann::json::array();
  nlohmann::json lists = nlohmann::json::object();  // "Terms", "ShipVia", ... each a list
  nlohmann::json printers = nlohmann::json::array();
  nlohmann::json pricing = nlohmann::json::object();  // pricing.json (see OrderOperations.h)
  nlohmann::json pickTickets = nlohmann::json::object();  // "PickTickets", "Barcodes"

  // Reads every file of `folder`. Returns false with `error` naming the file on bad JSON.
  bool load(const std::filesystem::path& folder, std::string* error = nullptr);

  const nlohmann::json* findUser(const std::string& name) const;
  const nlohmann::json* findDivision(const std::string& code) const;
};

// The data folder that ships with the sources.
std::filesystem::path defaultDataFolder();

}  // namespace backoffice
