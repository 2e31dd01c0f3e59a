#pragma once
// A back-office server for tests and demos: the mobile and scan-pack SOAP 1.1 web services
// on HTTP, answering from a sample catalogue (see Catalogue.h) through the operation table
// (Operations.h). The operation is chosen by the "SOAPAction" header and must match the
// body's operation element, which must be in the services' namespace inside a SOAP 1.1
// envelope; parameters must come in the order the table gives. Otherwise the answer is a
// SOAP fault with HTTP 500, so a request built wrongly is noticed.
//
// The picture folder is served by GET below "/styleimages" from the data folder's
// "styleimages" folder: style pictures ("/styleimages/<name>", and the same files as
// "/styleimages/resizeImages/<name>"), the PDF folder ("/styleimages/pdf/SO<n>.pdf",
// "CC<n>.pdf", line sheets), image archives ("/styleimages/SOimgZip/<name>") and order
// pictures ("/styleimages/resizeImages/SO<n>/<name>"). Other paths answer 404.
//
// Faults can be set per operation: a slow answer (a delay, or held until released), HTTP
// 500 with an HTML page, malformed XML, malformed JSON in the result, or an answer whose
// "Response" is some other value than "True". Every request is recorded (method, path,
// headers, body, outcome) and logged through the log sink without parameter values.
//
// `start` serves on a background thread (port 0 picks a free port); `run` serves on the
// calling thread (the program does that). All methods are thread-safe.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "testing/backoffice/Operations.h"

namespace httplib { class Server; }

namespace backoffice {

struct Fault {
  std::chrono::milliseconds delay{0};      // answer after this much real time
  bool hold = false;                       // answer only after `releaseHeld()` (or stop)
  bool http500 = false;                    // HTTP 500 with an HTML page
  bool malformedXml = false;               // envelope broken before the result element
  bool malformedJson = false;              // result text that is not JSON
  std::optional<std::string> response;     // "Response" value in place of the operation's
  std::optional<std::string> resultText;   // result element's text in place of the operation's
  bool holdAnswer = false;                 // handle the request, then hold its answer until released
  std::optional<std::string> faultOk;      // status 200 with a SOAP Fault of this faultstring
  bool htmlOk = false;                     // status 200 with the HTML error page

  static Fault slow(std::chrono::milliseconds d) { Fault f; f.delay = d; return f; }
  static Fault held() { Fault f; f.hold = true; return f; }
  static Fault serverError() { Fault f; f.http500 = true; return f; }
  static Fault badXml() { Fault f; f.malformedXml = true; return f; }
  static Fault badJson() { Fault f; f.malformedJson = true; return f; }
  static Fault responseValue(std::string v) { Fault f; f.response = std::move(v); return f; }
  static Fault result(std::string text) { Fault f; f.resultText = std::move(text); return f; }
  // The request takes effect on the server, but its answer is lost to the client.
  static Fault answerHeld() { Fault f; f.holdAnswer = true; return f; }
  // The request takes effect, but the answer is a SOAP Fault, or an error page, with status 200.
  static Fault soapFaultOk(std::string text) { Fault f; f.faultOk = std::move(text); return f; }
  static Fault htmlPageOk() { Fault f; f.htmlOk = true; return f; }
};

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string soapAction;
  std::string contentType;
  std::string contentLength;  // the header as sent
  std::string body;
  std::string operation;      // empty when the request could not be read
  std::vector<std::pair<std::string, std::string>> params;
  int status = 0;
};

class BackOfficeServer {
 public:
  // Loads the catalogue from `dataFolder`; `loadError()` tells when that failed.
  explicit BackOfficeServer(std::filesystem::path dataFolder = defaultDataFolder());
  ~BackOfficeServer();
  BackOfficeServer(const BackOfficeServer&) = delete;
  BackOfficeServer& operator=(const BackOfficeServer&) = delete;

  const std::string& loadError() const { return loadError_; }

  // Binds `host`:`port` (0: any free port) and serves on a background thread.
  bool start(int port = 0, const std::string& host = "127.0.0.1");
  // Binds and serves on the calling thread until `stop()`.
  bool run(int port, const std::string& host = "127.0.0.1");
  void stop();
  int port() const { return port_; }
  // "http://127.0.0.1:<port>".
  std::string baseUrl() const;

  void setFault(const std::string& operation, Fault fault);
  void clearFaults();
  // Lets every held answer go.
  void releaseHeld();
  // How many requests are held now.
  int heldCount() const;

  std::vector<RecordedRequest> requests() const;
  // Calls received for `operation`, in order.
  std::vector<Call> received(const std::string& operation) const;
  std::vector<std::string> serverLog() const;
  // Runs `f` on the server's state under its lock (tests change the catalogue this way).
  void withState(const std::function<void(State&)>& f);

  void setLogSink(std::function<void(const std::string&)> sink);

 private:
  struct Reply {
    int status = 200;
    std::string contentType;
    std::string body;
  };
  void install();
  void serveImage(const std::string& path, int& status, std::string& body, std::string& type);
  Reply handle(ServiceKind service, const std::string& path, const std::string& soapAction,
               const std::string& contentType, const std::string& contentLength,
               const std::string& body);
  void log(const std::string& line);
  Fault faultFor(const std::string& operation) const;
  void waitWhileHeld(const Fault& fault);

  std::filesystem::path imageFolder_;
  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
  int port_ = 0;
  std::string loadError_;

  mutable std::mutex mutex_;
  std::condition_variable heldCv_;
  State state_;
  std::map<std::string, Fault> faults_;
  std::vector<RecordedRequest> requests_;
  std::function<void(const std::string&)> logSink_;
  uint64_t releaseGeneration_ = 0;
  int held_ = 0;
  bool stopping_ = false;
};

}  // namespace backoffice
