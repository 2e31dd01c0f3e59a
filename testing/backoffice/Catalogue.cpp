#include "testing/backoffice/Catalogue.h"

#include <fstream>
#include <sstream>

namespace backoffice {

namespace {

bool readInto(const std::filesystem::path& file, nlohmann::json& into, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return true;  // absent: keep the empty default
  std::stringstream ss;
  ss << in.rdbuf();
  auto parsed = nlohmann::json::parse(ss.str(), nullptr, false);
  if (parsed.is_discarded() || parsed.type() != into.type()) {
    if (error) *error = "malformed data file " + file.string();
    return false;
  }
  into = std::move(parsed);
  return true;
}

const nlohmann::json* findBy(const nlohmann::json& list, const char* key, const std::string& v) {
  for (const auto& row : list)
    if (row.is_object() && row.value(key, std::string()) == v) return &row;
  return nullptr;
}

}  // namespace

bool Catalogue::load(const std::filesystem::path& folder, std::string* error) {
  return readInto(folder / "users.json", users, error) &&
         readInto(folder / "styles.json", styles, error) &&
         readInto(folder / "customers.json", customers, error) &&
         readInto(folder / "orderTypes.json", orderTypes, error) &&
         readInto(folder / "divisions.json", divisions, error) &&
         readInto(folder / "warehouses.json", warehouses, error) &&
         readInto(folder / "lists.json", lists, error) &&
         readInto(folder / "printers.json", printers, error) &&
         readInto(folder / "pricing.json", pricing, error) &&
         readInto(folder / "pickTickets.json", pickTickets, error);
}

const nlohmann::json* Catalogue::findUser(const std::string& name) const {
  return findBy(users, "userName", name);
}

const nlohmann::json* Catalogue::findDivision(const std::string& code) const {
  return findBy(divisions, "Code", code);
}

std::filesystem::path defaultDataFolder() {
#ifdef KESTRA_BACKOFFICE_DATA
  return KESTRA_BACKOFFICE_DATA;
#else
  return "testing/backoffice/data";
#endif
}

}  // namespace backoffice
