#pragma once
// A management server for the device-management agent, over HTTPS on loopback with a
// certificate from an authority made at start-up (TestCertificates.h). It serves the
// agent's endpoints: the check-in address "/api/DepricatedServices" (check-in, plug-in
// headers, tags, location, receipts), "/api/v1/device/configuration",
// "/api/v1/device/metric/upload", "/api/v1/device/log/upload" (multipart) and
// "/api/v1/device/firmware", and GETs of the public-address lookup "/" and of files under
// "/files/".
//
// Each endpoint answers from a script: answers queued with `script` are used once each, in
// order, then the endpoint's default (`setDefault`). An answer may be delayed (real time)
// or dropped (the connection closes in the middle of the answer). Every request is recorded
// with its body parsed (JSON, or the parts of a multipart form) for tests to examine.
//
// Thread-safe: requests are served on the server's own threads.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "testing/mdm/TestCertificates.h"

namespace httplib {
class SSLServer;
}

namespace mdm {

inline constexpr const char* kCheckInPath = "/api/DepricatedServices";
inline constexpr const char* kConfigurationPath = "/api/v1/device/configuration";
inline constexpr const char* kMetricPath = "/api/v1/device/metric/upload";
inline constexpr const char* kLogPath = "/api/v1/device/log/upload";
inline constexpr const char* kFirmwarePath = "/api/v1/device/firmware";
inline constexpr const char* kPublicAddressPath = "/";
// Files the server hands out with a GET (scripted by their whole path).
inline constexpr const char* kFilesPath = "/files/";

struct Answer {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  std::chrono::milliseconds delay{0};
  bool drop = false;
  // Sent with the answer (a redirect's "Location", for one).
  std::vector<std::pair<std::string, std::string>> headers = {};
};

struct FormPart {
  std::string name;
  std::optional<std::string> filename;
  std::optional<std::string> contentType;
  std::string value;
};

struct Request {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  // The body as sent; for a multipart form, the parts' values one after the other.
  std::string body;
  std::optional<nlohmann::json> json;     // when the body is JSON
  std::optional<std::vector<FormPart>> parts;  // when it is a multipart form
  std::string header(const std::string& name) const;
  // The form part named `name`, if any.
  const FormPart* part(const std::string& name) const;
};

// Splits a multipart form body by `boundary` (from the request's Content-Type). Nothing when
// the body is not such a form.
std::optional<std::vector<FormPart>> parseMultipart(std::string_view body, std::string_view boundary);
// The boundary parameter of a multipart Content-Type, unquoted.
std::optional<std::string> boundaryOf(std::string_view contentType);

class MdmServer {
 public:
  // Makes the certificates in `certFolder` (name "mdm").
  explicit MdmServer(std::filesystem::path certFolder);
  ~MdmServer();
  MdmServer(const MdmServer&) = delete;
  MdmServer& operator=(const MdmServer&) = delete;

  // Listens on 127.0.0.1 (`port` 0: any free port). Returns false when it cannot.
  bool start(int port = 0);
  // Serves on the calling thread until `stop` (the program).
  bool run(int port);
  void stop();

  int port() const { return port_; }
  std::string origin() const;
  const CertificateFiles& certificates() const { return certs_; }
  bool ready() const { return ready_; }

  // Called on the server's thread with each request as it is recorded (the program prints).
  void setRequestObserver(std::function<void(const Request&)> observer);
  void setDefault(const std::string& path, Answer answer);
  void script(const std::string& path, Answer answer);

  // Recorded requests, all or those of `path`.
  std::vector<Request> requests(const std::string& path = {}) const;
  size_t count(const std::string& path = {}) const;
  // Check-in address requests of one "serviceType".
  std::vector<Request> service(const std::string& serviceType) const;
  // Waits (real time, bounded) until `count(path) >= n`.
  bool waitFor(const std::string& path, size_t n, std::chrono::milliseconds limit = std::chrono::seconds(20)) const;
  void clearRequests();

 private:
  void install();
  Answer next(const std::string& path);

  CertificateFiles certs_;
  bool ready_ = false;
  std::unique_ptr<httplib::SSLServer> http_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::map<std::string, Answer> defaults_;
  std::map<std::string, std::vector<Answer>> scripts_;
  std::vector<Request> requests_;
  std::function<void(const Request&)> observer_;
};

}  // namespace mdm
