#pragma once
// HTTP and HTTPS requests for the platform layers, the SDK and the application.
//
// `HttpClient` runs every request on one worker thread of its own (several at once, with
// connections to the same server kept open and reused) and hands the outcome to the main
// queue: either the server's answer (any status, with its headers in the order they came
// and the whole body), or an `Error` in the domain "NSURLErrorDomain" whose code says what
// went wrong (-1001 timed out, -1003 host not found, -1004 cannot connect, ...). An answer
// with a status of 400 or more is an answer, not an error.
//
// Requests are sent as given: the caller's headers go out in the caller's order after the
// request line, "Host" and "Accept: */*"; nothing is cached, nothing is read from a cache;
// no "Expect: 100-continue" is sent; a "Content-Length" that the caller gives keeps its
// place and always carries the byte length of the body actually sent (so it is never
// doubled nor wrong); without one, it follows the caller's headers. HTTPS verifies the
// server's certificate and host name, against the system's authorities or the request's
// own CA file. Redirects are followed (at most 16, to http and https only) as browsers do:
// 301 and 302 turn a POST into a GET without its body and "Content-" headers, 303 turns
// any method but HEAD into a GET, and "Authorization" and "Cookie" are not sent to another
// origin. A request may narrow this: `protocols` names the only schemes it and its
// redirects may use (a caller that allows only https never sends a byte in clear), and
// `bodyToOtherOrigin` false keeps a 307 or 308 from carrying the body to another origin.
// An ftp:// download (when `protocols` allows it) that completes is an answer with status
// 200 and the file as its body; an FTP failure is an error.
//
// `send` and `cancel` may be called from any thread. Completions run on the main queue;
// a request cancelled on the main thread never calls its completion afterwards. Bad input
// (a malformed URL, an unsupported scheme, a header holding a line break) completes with an
// error; nothing is thrown.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"

namespace net {

using foundation::Duration;
using foundation::Error;

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// The request time-out of the platform's URL requests when the caller sets none.
inline constexpr Duration kDefaultRequestTimeout = std::chrono::seconds(60);
// The largest answer body a request takes by default; a larger one fails with -1103.
inline constexpr size_t kDefaultMaxResponseSize = size_t(64) << 20;
// The longest a whole request may take by default (connecting, sending and reading),
// however steadily the server keeps sending.
inline constexpr Duration kDefaultResourceTimeout = std::chrono::minutes(5);
// How many redirects a request follows before failing with -1007.
inline constexpr long kMaxRedirects = 16;

// Codes of the "NSURLErrorDomain" errors that requests complete with.
enum UrlErrorCode : int {
  kUrlErrorUnknown = -1,
  kUrlErrorCancelled = -999,
  kUrlErrorBadURL = -1000,
  kUrlErrorTimedOut = -1001,
  kUrlErrorUnsupportedURL = -1002,
  kUrlErrorCannotFindHost = -1003,
  kUrlErrorCannotConnectToHost = -1004,
  kUrlErrorNetworkConnectionLost = -1005,
  kUrlErrorHTTPTooManyRedirects = -1007,
  kUrlErrorNotConnectedToInternet = -1009,
  kUrlErrorBadServerResponse = -1011,
  kUrlErrorDataLengthExceedsMaximum = -1103,
  kUrlErrorAppTransportSecurityRequiresSecureConnection = -1022,
  kUrlErrorSecureConnectionFailed = -1200,
  kUrlErrorServerCertificateUntrusted = -1202,
};

// An error of the "NSURLErrorDomain" with the platform's text for `code`.
Error urlError(int code);

struct HttpRequest {
  // "GET" when empty. A body is sent with any method but GET and HEAD.
  std::string method = "GET";
  std::string url;
  // Sent in this order after the request line and "Host".
  HttpHeaders headers;
  std::string body;
  // The longest the request may stay idle (connecting, or waiting for the next bytes)
  // before it fails with -1001. Measured on `foundation::Clock`.
  Duration timeout = kDefaultRequestTimeout;
  // The longest the whole request may take (-1001 past it); zero means no limit beyond
  // `timeout`.
  Duration resourceTimeout = kDefaultResourceTimeout;
  // The largest body accepted; a server that sends more fails the request with -1103
  // as soon as the limit is passed (nothing more is read).
  size_t maxResponseSize = kDefaultMaxResponseSize;
  // A PEM file of the authorities that HTTPS servers' certificates are checked against,
  // instead of the system's. Empty: the system's.
  std::string caFile;
  // The schemes (curl's names, comma-separated) that the request and every redirect it
  // follows may use. Another scheme fails with -1002; plain http where only https is
  // allowed fails with -1022 before anything is sent.
  std::string protocols = "http,https";
  // False: a 307 or 308 redirect to another origin (scheme, host and port) that would send
  // the body again fails with -1011 instead, and the body goes nowhere else.
  bool bodyToOtherOrigin = true;
  // Optional: runs on the main queue once the whole request (headers and body) has been
  // handed to the connection, before the completion. Lets a caller tell a time-out while
  // waiting for the answer from one while connecting or sending.
  std::function<void()> sent;
};

struct HttpResponse {
  int status = 0;
  // The final answer's headers, in the order the server sent them, names as sent.
  HttpHeaders headers;
  std::string body;

  // The value of the first header named `name` (compared without case), or nullopt.
  std::optional<std::string> header(const std::string& name) const;
};

class HttpClient {
 public:
  using RequestId = uint64_t;
  // Exactly one of the two holds: an answer, or an error (`isError()`).
  using Completion = std::function<void(std::optional<HttpResponse>, Error)>;

  // The process's client, alive until the process ends.
  static HttpClient& shared();

  HttpClient();
  // Stops the worker; requests still running are dropped without their completions.
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Starts `request` and returns at once. `completion` runs once on the main queue.
  RequestId send(HttpRequest request, Completion completion);
  // Stops the request; its completion (and `sent`) is not called. Unknown or finished ids
  // are ignored.
  void cancel(RequestId id);

  // Runs `request` on the shared client's worker and blocks the calling thread until it
  // ends (at most its time-outs). For probes; never call it where the worker must wait.
  static std::optional<HttpResponse> sendSync(HttpRequest request, Error* error = nullptr);
  // A GET of `url` that takes at most `timeout` in all.
  static std::optional<HttpResponse> getSync(const std::string& url, Duration timeout,
                                             Error* error = nullptr);

 private:
  struct Transfer;
  struct Registry;
  enum class Delivery { MainQueue, Worker };

  RequestId start(HttpRequest request, Completion completion, Delivery delivery);
  void workerLoop();
  void addPending();
  void removeCancelled();
  void finish(RequestId id, std::optional<HttpResponse> response, Error error);
  void noteSent(Transfer& t);
  void followRedirect(Transfer& t, long status, std::string location);
  // Without libcurl: fails the request with `unavailable_` as a transfer's end would.
  RequestId failUnavailable(std::unique_ptr<Transfer> t);

  void* multi_ = nullptr;  // CURLM*; null when libcurl is unavailable
  std::string unavailable_;  // why libcurl is unavailable
  std::thread worker_;
  std::mutex mutex_;
  bool stopping_ = false;
  RequestId nextId_ = 1;
  std::vector<std::unique_ptr<Transfer>> pending_;     // guarded by mutex_
  std::vector<RequestId> cancelled_;                   // guarded by mutex_
  std::map<RequestId, std::unique_ptr<Transfer>> active_;  // worker thread only
  // Cancellation flags of requests whose completion has not run yet; shared with the
  // blocks posted to the main queue, which may outlive the client.
  std::shared_ptr<Registry> registry_;
};

}  // namespace net
