#include "app/core/Util.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "app/core/AppNames.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Service.h"
#include "app/core/SoapEnvelope.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/net/HttpClient.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

namespace orvo {

namespace {

std::string serverBase() {
  auto& d = foundation::UserDefaults::standard();
  return "http://" + foundation::textValue(d.objectForKey(defaults::serverIP)) + ":" +
         foundation::textValue(d.objectForKey(defaults::serverPort));
}

size_t characterCount(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace

std::string Util::getServerInfo() { return getServerInfo(false); }

std::string Util::getServerInfo(bool scanPack) {
  return serverBase() + (scanPack ? "/Webservice/OrvoScanPackWebService.asmx"
                                  : "/Webservice/OrvoMobileWebService.asmx");
}

std::string Util::getImgUrl() { return serverBase() + "/styleimages"; }
std::string Util::getPdfUrl() { return getImgUrl() + "/pdf"; }
std::string Util::getImgZipUrl() { return getImgUrl() + "/soimgzip"; }

bool Util::validEmail(const std::string& text) {
  // The pattern "^[A-Z0-9._%+-]+@[A-Z0-9.-]+\.[A-Z]{2,15}$" without regard to case, matched
  // by hand in one pass: std::regex recurses per character and overflows the stack on long
  // text. Neither part may hold "@", so there is exactly one; the domain's last dot starts
  // the last label, which must be 2 to 15 letters, with at least one character before it.
  auto letter = [](unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  auto inSet = [&](unsigned char c, const char* extra) {
    return letter(c) || (c >= '0' && c <= '9') || (c != 0 && std::strchr(extra, c) != nullptr);
  };
  const size_t at = text.find('@');
  if (at == std::string::npos || at == 0) return false;
  for (size_t i = 0; i < at; ++i)
    if (!inSet(static_cast<unsigned char>(text[i]), "._%+-")) return false;
  const std::string_view domain = std::string_view(text).substr(at + 1);
  const size_t dot = domain.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  for (size_t i = 0; i < dot; ++i)
    if (!inSet(static_cast<unsigned char>(domain[i]), ".-")) return false;
  const std::string_view last = domain.substr(dot + 1);
  if (last.size() < 2 || last.size() > 15) return false;
  for (unsigned char c : last)
    if (!letter(c)) return false;
  return true;
}

bool Util::isValidCVV(const std::string& cvv, const std::string& ccType) {
  if (cvv.find_first_not_of("0123456789") != std::string::npos) return false;
  return cvv.size() == (ccType == "AMEX" ? 4u : 3u);
}

bool Util::isValidZipcode(const std::optional<std::string>& zip) {
  if (!zip || zip->empty()) return true;
  const size_t n = characterCount(*zip);
  return n >= 5 && n <= 9;
}

std::string Util::percentEscaped(const std::string& address) {
  static const std::string keep =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~:/?#[]@!$&'()*+,;=%";
  std::string out;
  for (unsigned char c : address) {
    if (keep.find(char(c)) != std::string::npos) {
      out += char(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

bool Util::isUrlExist(const std::string& address) {
  auto response = net::HttpClient::getSync(percentEscaped(address), std::chrono::seconds(3));
  return response && response->status == 200;
}

void Util::setDefaultNavTitle(ui::NavigationController& nav) {
  auto& bar = nav.navigationBar();
  bar.setTintColor(ui::Color::whiteColor());
  bar.setBarTintColor(ui::Color::black());
  bar.setTranslucent(true);
  bar.setTitleTextAttributes(ui::Color::whiteColor(), bar.titleFont());
}

void Util::setNavTitleBgColor(ui::NavigationController& nav, ui::Color color) {
  nav.navigationBar().setBarTintColor(color);
}

std::string Util::getPlatform() {
  utsname u{};
  if (uname(&u) != 0) return {};
  return u.machine;
}

std::string Util::getIosVersion() { return ui::Device::current().systemVersion(); }
std::string Util::getIpodName() { return ui::Device::current().name(); }

void Util::SetServerLog(const std::optional<std::string>& message) {
  auto service = Service::create(nullptr, nullptr, nullptr);
  service->setIsJson(false);
  service->sendSoapRequestWithStringUrl(
      getServerInfo(), soapEnvelope("SetServerLog", {{"logMsg", message.value_or("NULL")}}),
      "SetServerLog");
}

double Util::currentMemoryUsage() {
  std::ifstream in("/proc/meminfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Unevictable:", 0) == 0) {
      std::istringstream fields(line.substr(12));
      double kb = 0;
      if (!(fields >> kb)) return 0.0;
      const long page = sysconf(_SC_PAGESIZE);
      if (page <= 0) return 0.0;
      return kb * 1024.0 / double(page) / 1024.0;
    }
  }
  return 0.0;
}

}  // namespace orvo
