#pragma once
// Small stateless helpers that screens of every subsystem use: the service addresses
// (built anew on each call from the user defaults "serverIP" and "serverPort"; a missing
// value reads "(null)"), input checks, navigation-bar styling, a URL probe, device facts
// and the server log. Main thread, except the checks, which any thread may call.

#include <optional>
#include <string>

#include "platform/ui/Color.h"

namespace ui { class NavigationController; }

namespace orvo {

class Util {
 public:
  // "http://<ip>:<port>/Webservice/OrvoMobileWebService.asmx".
  static std::string getServerInfo();
  // true: the scan-pack service "http://<ip>:<port>/Webservice/OrvoScanPackWebService.asmx".
  static std::string getServerInfo(bool scanPack);
  static std::string getImgUrl();     // "http://<ip>:<port>/styleimages"
  static std::string getPdfUrl();     // getImgUrl() + "/pdf"
  static std::string getImgZipUrl();  // getImgUrl() + "/soimgzip"

  // The whole text matches "^[A-Z0-9._%+-]+@[A-Z0-9.-]+\.[A-Z]{2,15}$", ignoring case.
  static bool validEmail(const std::string& text);
  // Only digits; 4 of them for "AMEX", 3 for any other card type.
  static bool isValidCVV(const std::string& cvv, const std::string& ccType);
  // Absent, empty, or 5 to 9 characters.
  static bool isValidZipcode(const std::optional<std::string>& zip);
  // Whether a GET of `address` (percent-escaped) answers status 200 within 3 s. Blocks.
  static bool isUrlExist(const std::string& address);
  // `address` with spaces, quotes, non-ASCII and other characters that a URL cannot hold
  // percent-escaped (UTF-8); reserved characters and existing escapes stay.
  static std::string percentEscaped(const std::string& address);

  // White tint, black bar, translucent, white title.
  static void setDefaultNavTitle(ui::NavigationController& nav);
  static void setNavTitleBgColor(ui::NavigationController& nav, ui::Color color);

  static std::string getPlatform();    // the machine field of uname
  static std::string getIosVersion();  // the system version
  static std::string getIpodName();    // the device's name

  // Sends "SetServerLog" with `logMsg` ("NULL" when absent); the answer is ignored.
  static void SetServerLog(const std::optional<std::string>& message);
  static void SocketLog(const std::string&, const std::string&) {}

  // The host's unevictable memory in pages / 1024, or 0.0 when it cannot be read.
  static double currentMemoryUsage();
};

}  // namespace orvo
