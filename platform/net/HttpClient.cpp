#include "platform/net/HttpClient.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>

#include "platform/foundation/MainQueue.h"
#include "platform/net/CurlLibrary.h"

namespace net {

using foundation::Clock;
using foundation::MonoTime;

namespace {

// libcurl's entry points; opened by the client's constructor, which starts no transfer
// without them.
const CurlLibrary& lib() { return *CurlLibrary::get(); }

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && lower(a) == lower(b);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// An HTTP token: the characters allowed in a method or a header name.
bool isToken(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char c : s) {
    if (c <= 32 || c >= 127) return false;
    if (std::strchr("()<>@,;:\\\"/[]?={}", c)) return false;
  }
  return true;
}

bool isHeaderValue(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

Error errorForCurl(CURLcode rc, long osErrno, const char* detail) {
  switch (rc) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      return urlError(kUrlErrorUnsupportedURL);
    case CURLE_URL_MALFORMAT:
      return urlError(kUrlErrorBadURL);
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return urlError(kUrlErrorCannotFindHost);
    case CURLE_COULDNT_CONNECT:
      if (osErrno == ENETUNREACH || osErrno == ENETDOWN)
        return urlError(kUrlErrorNotConnectedToInternet);
      return urlError(kUrlErrorCannotConnectToHost);
    case CURLE_OPERATION_TIMEDOUT:
      return urlError(kUrlErrorTimedOut);
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return urlError(kUrlErrorBadServerResponse);
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return urlError(kUrlErrorNetworkConnectionLost);
    case CURLE_TOO_MANY_REDIRECTS:
      return urlError(kUrlErrorHTTPTooManyRedirects);
    case CURLE_PEER_FAILED_VERIFICATION:
      return urlError(kUrlErrorServerCertificateUntrusted);
    case CURLE_SSL_CACERT_BADFILE:
      return Error(foundation::kUrlErrorDomain, kUrlErrorSecureConnectionFailed,
                   "The file of trusted certificate authorities could not be read.");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return urlError(kUrlErrorSecureConnectionFailed);
    case CURLE_ABORTED_BY_CALLBACK:
      return urlError(kUrlErrorCancelled);
    default: {
      std::string text = detail && *detail ? detail : lib().easy_strerror(rc);
      return Error(foundation::kUrlErrorDomain, kUrlErrorUnknown, text);
    }
  }
}

// "scheme://host:port" of `url`, or empty when it cannot be parsed.
std::string originOf(const std::string& url) {
  CURLU* u = lib().url();
  std::string origin;
  if (lib().url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    char* scheme = nullptr;
    char* host = nullptr;
    char* port = nullptr;
    lib().url_get(u, CURLUPART_SCHEME, &scheme, 0);
    lib().url_get(u, CURLUPART_HOST, &host, 0);
    lib().url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT);
    if (scheme && host) origin = lower(scheme) + "://" + lower(host) + ":" + (port ? port : "");
    lib().free(scheme);
    lib().free(host);
    lib().free(port);
  }
  lib().url_cleanup(u);
  return origin;
}

// The scheme of `url` ("scheme://..."), lower-cased; "" when it names none (curl then
// guesses, within the request's protocols).
std::string schemeOf(const std::string& url) {
  const size_t at = url.find("://");
  if (at == std::string::npos || at == 0) return std::string();
  for (size_t i = 0; i < at; ++i)
    if (!std::isalnum(static_cast<unsigned char>(url[i])) && url[i] != '+' && url[i] != '-' && url[i] != '.')
      return std::string();
  return lower(std::string_view(url).substr(0, at));
}

// Whether `scheme` is one of the comma-separated `protocols`.
bool allows(const std::string& protocols, const std::string& scheme) {
  size_t start = 0;
  while (start <= protocols.size()) {
    size_t comma = protocols.find(',', start);
    if (comma == std::string::npos) comma = protocols.size();
    if (lower(trim(std::string_view(protocols).substr(start, comma - start))) == scheme) return true;
    start = comma + 1;
  }
  return false;
}

// The error for a request to `scheme` that `protocols` does not allow: plain http where
// https is allowed is a refused downgrade, anything else an unsupported scheme.
Error schemeRefused(const std::string& protocols, const std::string& scheme) {
  if (scheme == "http" && allows(protocols, "https"))
    return urlError(kUrlErrorAppTransportSecurityRequiresSecureConnection);
  return urlError(kUrlErrorUnsupportedURL);
}

bool isRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// OpenSSL frees its tables from an exit handler of its own, while a request on another thread
// may still be in a TLS exchange: that exchange then reads freed memory and the process
// crashes on its way out. Set before main, so that OpenSSL's first initialisation leaves the
// handler out; the process's end frees what it holds.
[[maybe_unused]] const bool kOpenSslWithoutExitHandler = [] {
  return OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
}();

}  // namespace

Error urlError(int code) {
  const char* text = "An unknown network error occurred.";
  switch (code) {
    case kUrlErrorCancelled: text = "The request was cancelled."; break;
    case kUrlErrorBadURL: text = "The URL is not valid."; break;
    case kUrlErrorTimedOut: text = "The request timed out."; break;
    case kUrlErrorUnsupportedURL: text = "The URL's scheme is not supported."; break;
    case kUrlErrorCannotFindHost:
      text = "A server with the specified hostname could not be found.";
      break;
    case kUrlErrorCannotConnectToHost: text = "Could not connect to the server."; break;
    case kUrlErrorNetworkConnectionLost: text = "The network connection was lost."; break;
    case kUrlErrorHTTPTooManyRedirects: text = "There were too many HTTP redirects."; break;
    case kUrlErrorNotConnectedToInternet:
      text = "The Internet connection appears to be offline.";
      break;
    case kUrlErrorBadServerResponse: text = "The server returned a bad response."; break;
    case kUrlErrorAppTransportSecurityRequiresSecureConnection:
      text = "The request was refused: it must use a secure connection (https).";
      break;
    case kUrlErrorDataLengthExceedsMaximum: text = "The answer is larger than the size allowed."; break;
    case kUrlErrorSecureConnectionFailed:
      text = "An SSL error has occurred and a secure connection to the server cannot be made.";
      break;
    case kUrlErrorServerCertificateUntrusted:
      text = "The certificate for this server is invalid.";
      break;
    default: code = kUrlErrorUnknown; break;
  }
  return Error(foundation::kUrlErrorDomain, code, text);
}

std::optional<std::string> HttpResponse::header(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (iequals(n, name)) return v;
  return std::nullopt;
}

struct HttpClient::Registry {
  std::mutex mutex;
  std::map<RequestId, std::shared_ptr<std::atomic<bool>>> flags;
};

struct HttpClient::Transfer {
  RequestId id = 0;
  HttpRequest request;
  Completion completion;
  Delivery delivery = Delivery::MainQueue;
  std::shared_ptr<std::atomic<bool>> cancelled;

  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  bool sendsBody = false;
  bool sentNoted = false;
  long redirects = 0;
  bool tooLarge = false;
  bool ftp = false;  // an FTP download: the server's reply lines are not headers
  HttpResponse response;
  char errorText[CURL_ERROR_SIZE] = {};

  // Time-outs, on the clock in force. When a test swaps the clock, the request's periods
  // start again on the new one rather than mixing two clocks' readings.
  Clock* clock = nullptr;
  MonoTime started{};
  MonoTime lastActivity{};
  curl_off_t lastUp = -1;
  curl_off_t lastDown = -1;

  ~Transfer() { release(); }

  void release() {
    if (easy) lib().easy_cleanup(easy);
    if (headerList) lib().slist_free_all(headerList);
    easy = nullptr;
    headerList = nullptr;
  }

  void followClock() {
    Clock& c = Clock::current();
    if (&c != clock) {
      clock = &c;
      started = lastActivity = c.now();
    }
  }
  void touch() { lastActivity = clock->now(); }

  MonoTime deadline() const {
    MonoTime d = lastActivity + request.timeout;
    if (request.resourceTimeout > Duration::zero())
      d = std::min(d, started + request.resourceTimeout);
    return d;
  }

  // Whether the request line, headers and the whole body have gone to the connection.
  bool requestSent() const {
    long requestSize = 0;
    curl_off_t uploaded = 0;
    lib().easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &requestSize);
    lib().easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    if (requestSize <= 0) return false;
    return !sendsBody || uploaded >= static_cast<curl_off_t>(request.body.size());
  }

  static size_t onHeader(char* data, size_t size, size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    const size_t length = size * count;
    t->touch();
    if (t->ftp) return length;
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    auto& headers = t->response.headers;
    if (line.starts_with("HTTP/")) {
      // A new status line: an interim answer or a redirect came before; keep only the last.
      headers.clear();
    } else if (line.empty()) {
    } else if (line.front() == ' ' || line.front() == '\t') {
      if (!headers.empty()) {
        std::string_view more = trim(line);
        if (!more.empty()) headers.back().second += " " + std::string(more);
      }
    } else if (size_t colon = line.find(':'); colon != std::string_view::npos) {
      headers.emplace_back(std::string(trim(line.substr(0, colon))),
                           std::string(trim(line.substr(colon + 1))));
    }
    return length;
  }

  static size_t onBody(char* data, size_t size, size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    t->touch();
    const size_t length = size * count;
    if (length > t->request.maxResponseSize - std::min(t->request.maxResponseSize, t->response.body.size())) {
      t->tooLarge = true;
      return 0;  // curl stops the transfer with a write error
    }
    t->response.body.append(data, length);
    return length;
  }

  static int onProgress(void* userdata, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto* t = static_cast<Transfer*>(userdata);
    if (up != t->lastUp || down != t->lastDown) {
      t->lastUp = up;
      t->lastDown = down;
      t->touch();
    }
    return 0;
  }

  // Configures the easy handle. Returns an error for input that cannot be sent.
  Error setUp() {
    easy = lib().easy_init();
    if (!easy) return urlError(kUrlErrorUnknown);
    const std::string method = request.method.empty() ? "GET" : request.method;
    if (!isToken(method))
      return Error(foundation::kUrlErrorDomain, kUrlErrorUnknown,
                   "The request method \"" + method + "\" is not valid.");

    const std::string scheme = schemeOf(request.url);
    if (!scheme.empty() && !allows(request.protocols, scheme)) return schemeRefused(request.protocols, scheme);
    ftp = scheme == "ftp";

    lib().easy_setopt(easy, CURLOPT_PRIVATE, this);
    lib().easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    lib().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    lib().easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    lib().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, request.protocols.c_str());
    // Redirects are followed by the client itself (see `followRedirect`), so that the
    // caller's headers are adjusted for the new request rather than sent again blindly.
    lib().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // Loopback never goes through a proxy from the environment.
    lib().easy_setopt(easy, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    lib().easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    lib().easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!request.caFile.empty()) lib().easy_setopt(easy, CURLOPT_CAINFO, request.caFile.c_str());

    lib().easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    lib().easy_setopt(easy, CURLOPT_HEADERDATA, this);
    lib().easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    lib().easy_setopt(easy, CURLOPT_WRITEDATA, this);
    lib().easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    lib().easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    lib().easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);

    if (method == "GET") {
      lib().easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
      lib().easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
      sendsBody = true;
      lib().easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
      lib().easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
      if (method != "POST") lib().easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    bool callerExpect = false;
    for (const auto& [name, value] : request.headers) {
      if (!isToken(name) || !isHeaderValue(value))
        return Error(foundation::kUrlErrorDomain, kUrlErrorUnknown,
                     "The request header \"" + name.substr(0, 64) + "\" is not valid.");
      std::string line;
      if (iequals(name, "Content-Length")) {
        line = name + ": " + std::to_string(sendsBody ? request.body.size() : 0);
      } else {
        if (iequals(name, "Expect")) callerExpect = true;
        // "Name;" is how curl sends a header with an empty value.
        line = value.empty() ? name + ";" : name + ": " + value;
      }
      curl_slist* grown = lib().slist_append(headerList, line.c_str());
      if (!grown) return urlError(kUrlErrorUnknown);
      headerList = grown;
    }
    // An empty "Expect:" keeps curl from sending "Expect: 100-continue" for larger bodies.
    if (!callerExpect) {
      curl_slist* grown = lib().slist_append(headerList, "Expect:");
      if (!grown) return urlError(kUrlErrorUnknown);
      headerList = grown;
    }
    lib().easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);
    return Error();
  }
};

HttpClient& HttpClient::shared() {
  static HttpClient* client = new HttpClient();
  return *client;
}

HttpClient::HttpClient() : registry_(std::make_shared<Registry>()) {
  // libcurl is opened with the first client (the first request), not with the program.
  if (!CurlLibrary::get(&unavailable_)) return;
  multi_ = lib().multi_init();
  if (!multi_) {
    unavailable_ = "libcurl could not make a transfer queue";
    return;
  }
  worker_ = std::thread([this] { workerLoop(); });
}

HttpClient::~HttpClient() {
  if (!multi_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  lib().multi_wakeup(static_cast<CURLM*>(multi_));
  worker_.join();
  for (auto& [id, t] : active_) lib().multi_remove_handle(static_cast<CURLM*>(multi_), t->easy);
  active_.clear();
  pending_.clear();
  lib().multi_cleanup(static_cast<CURLM*>(multi_));
}

HttpClient::RequestId HttpClient::send(HttpRequest request, Completion completion) {
  return start(std::move(request), std::move(completion), Delivery::MainQueue);
}

HttpClient::RequestId HttpClient::start(HttpRequest request, Completion completion,
                                        Delivery delivery) {
  auto t = std::make_unique<Transfer>();
  t->request = std::move(request);
  t->completion = std::move(completion);
  t->delivery = delivery;
  t->cancelled = std::make_shared<std::atomic<bool>>(false);
  t->followClock();
  if (!multi_) return failUnavailable(std::move(t));
  RequestId id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = t->id = nextId_++;
    {
      std::lock_guard<std::mutex> reg(registry_->mutex);
      registry_->flags[id] = t->cancelled;
    }
    pending_.push_back(std::move(t));
  }
  lib().multi_wakeup(static_cast<CURLM*>(multi_));
  return id;
}

HttpClient::RequestId HttpClient::failUnavailable(std::unique_ptr<Transfer> t) {
  RequestId id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = t->id = nextId_++;
  }
  {
    std::lock_guard<std::mutex> reg(registry_->mutex);
    registry_->flags[id] = t->cancelled;
  }
  Error error(foundation::kUrlErrorDomain, kUrlErrorUnknown,
              "The request could not be sent: " + unavailable_ + ".");
  if (t->delivery == Delivery::Worker) {
    {
      std::lock_guard<std::mutex> reg(registry_->mutex);
      registry_->flags.erase(id);
    }
    t->completion(std::nullopt, std::move(error));
    return id;
  }
  foundation::MainQueue::post([registry = registry_, id, flag = t->cancelled, completion = std::move(t->completion),
                               error = std::move(error)]() mutable {
    {
      std::lock_guard<std::mutex> reg(registry->mutex);
      registry->flags.erase(id);
    }
    if (!*flag) completion(std::nullopt, std::move(error));
  });
  return id;
}

void HttpClient::cancel(RequestId id) {
  {
    std::lock_guard<std::mutex> reg(registry_->mutex);
    auto it = registry_->flags.find(id);
    if (it == registry_->flags.end()) return;
    *it->second = true;
    registry_->flags.erase(it);
  }
  std::unique_ptr<Transfer> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [id](const auto& t) { return t->id == id; });
    if (it != pending_.end()) {
      dropped = std::move(*it);
      pending_.erase(it);
    } else {
      cancelled_.push_back(id);
    }
  }
  if (multi_) lib().multi_wakeup(static_cast<CURLM*>(multi_));
}

std::optional<HttpResponse> HttpClient::sendSync(HttpRequest request, Error* error) {
  struct Outcome {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::optional<HttpResponse> response;
    Error error;
  };
  auto outcome = std::make_shared<Outcome>();
  request.sent = nullptr;
  shared().start(
      std::move(request),
      [outcome](std::optional<HttpResponse> response, Error e) {
        std::lock_guard<std::mutex> lock(outcome->mutex);
        outcome->response = std::move(response);
        outcome->error = std::move(e);
        outcome->done = true;
        outcome->cv.notify_all();
      },
      Delivery::Worker);
  // The worker ends every request within its time-outs, so this wait ends.
  std::unique_lock<std::mutex> lock(outcome->mutex);
  outcome->cv.wait(lock, [&] { return outcome->done; });
  if (!outcome->response) foundation::fail(error, outcome->error);
  return std::move(outcome->response);
}

std::optional<HttpResponse> HttpClient::getSync(const std::string& url, Duration timeout,
                                                Error* error) {
  HttpRequest request;
  request.method = "GET";
  request.url = url;
  request.timeout = timeout;
  request.resourceTimeout = timeout;
  return sendSync(std::move(request), error);
}

void HttpClient::addPending() {
  std::vector<std::unique_ptr<Transfer>> incoming;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    incoming.swap(pending_);
  }
  for (auto& t : incoming) {
    Error error = t->setUp();
    const RequestId id = t->id;
    active_[id] = std::move(t);
    if (error.isError()) {
      finish(id, std::nullopt, std::move(error));
      continue;
    }
    lib().multi_add_handle(static_cast<CURLM*>(multi_), active_[id]->easy);
  }
}

void HttpClient::removeCancelled() {
  std::vector<RequestId> ids;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ids.swap(cancelled_);
  }
  for (RequestId id : ids) {
    auto it = active_.find(id);
    if (it == active_.end()) continue;
    lib().multi_remove_handle(static_cast<CURLM*>(multi_), it->second->easy);
    active_.erase(it);
  }
}

void HttpClient::noteSent(Transfer& t) {
  if (t.sentNoted || !t.easy || !t.requestSent()) return;
  t.sentNoted = true;
  if (!t.request.sent || t.delivery != Delivery::MainQueue) return;
  foundation::MainQueue::post([flag = t.cancelled, sent = t.request.sent] {
    if (!*flag) sent();
  });
}

void HttpClient::finish(RequestId id, std::optional<HttpResponse> response, Error error) {
  auto it = active_.find(id);
  if (it == active_.end()) return;
  std::unique_ptr<Transfer> t = std::move(it->second);
  active_.erase(it);
  if (response && !t->sentNoted) {
    // An answer came, so the request went out even if no check saw it complete.
    t->sentNoted = true;
    if (t->request.sent && t->delivery == Delivery::MainQueue)
      foundation::MainQueue::post([flag = t->cancelled, sent = t->request.sent] {
        if (!*flag) sent();
      });
  }
  lib().multi_remove_handle(static_cast<CURLM*>(multi_), t->easy);

  if (t->delivery == Delivery::Worker) {
    {
      std::lock_guard<std::mutex> reg(registry_->mutex);
      registry_->flags.erase(id);
    }
    if (!*t->cancelled) t->completion(std::move(response), std::move(error));
    return;
  }
  foundation::MainQueue::post([registry = registry_, id, flag = t->cancelled,
                               completion = std::move(t->completion),
                               response = std::move(response), error = std::move(error)]() mutable {
    {
      std::lock_guard<std::mutex> reg(registry->mutex);
      registry->flags.erase(id);
    }
    if (!*flag) completion(std::move(response), std::move(error));
  });
}

void HttpClient::followRedirect(Transfer& t, long status, std::string location) {
  if (t.redirects >= kMaxRedirects)
    return finish(t.id, std::nullopt, urlError(kUrlErrorHTTPTooManyRedirects));
  const std::string scheme = schemeOf(location);
  if (scheme != "http" && scheme != "https")
    return finish(t.id, std::nullopt, urlError(kUrlErrorUnsupportedURL));
  if (!allows(t.request.protocols, scheme))
    return finish(t.id, std::nullopt, schemeRefused(t.request.protocols, scheme));

  // As browsers do: 301 and 302 turn a POST into a GET, 303 turns anything but HEAD into a
  // GET; the body and the headers that describe it go. Credentials stay with their origin.
  HttpRequest& r = t.request;
  std::string method = r.method.empty() ? "GET" : r.method;
  const bool toGet = ((status == 301 || status == 302) && method == "POST") ||
                     (status == 303 && method != "GET" && method != "HEAD");
  const bool sameOrigin = originOf(location) == originOf(r.url);
  // 307 and 308 send the body again; a caller may keep it from going to another server.
  if (!toGet && !sameOrigin && !r.bodyToOtherOrigin && !r.body.empty() && method != "GET" && method != "HEAD")
    return finish(t.id, std::nullopt,
                  Error(foundation::kUrlErrorDomain, kUrlErrorBadServerResponse,
                        "The server redirected the request's body to another origin; it was not sent there."));
  HttpHeaders kept;
  for (auto& header : r.headers) {
    const std::string name = lower(header.first);
    if (!sameOrigin && (name == "authorization" || name == "cookie")) continue;
    if (toGet && name.starts_with("content-")) continue;
    kept.push_back(std::move(header));
  }
  if (toGet) {
    method = "GET";
    r.body.clear();
  }
  r.method = method;
  r.headers = std::move(kept);
  r.url = std::move(location);

  lib().multi_remove_handle(static_cast<CURLM*>(multi_), t.easy);
  t.release();
  t.response = HttpResponse();
  t.sendsBody = false;
  t.errorText[0] = 0;
  ++t.redirects;
  t.touch();
  Error error = t.setUp();
  if (error.isError()) return finish(t.id, std::nullopt, std::move(error));
  lib().multi_add_handle(static_cast<CURLM*>(multi_), t.easy);
}

void HttpClient::workerLoop() {
  CURLM* multi = static_cast<CURLM*>(multi_);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
    }
    addPending();
    removeCancelled();

    int running = 0;
    lib().multi_perform(multi, &running);

    int left = 0;
    while (CURLMsg* msg = lib().multi_info_read(multi, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      Transfer* t = nullptr;
      lib().easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &t);
      if (!t) continue;
      const CURLcode rc = msg->data.result;
      if (rc == CURLE_OK) {
        long status = 0;
        char* location = nullptr;
        lib().easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
        lib().easy_getinfo(t->easy, CURLINFO_REDIRECT_URL, &location);
        if (isRedirect(status) && location && *location) {
          followRedirect(*t, status, location);
          continue;
        }
        // A whole FTP download is the file, as a 200 answer would be.
        t->response.status = t->ftp ? 200 : static_cast<int>(status);
        finish(t->id, std::move(t->response), Error());
      } else {
        noteSent(*t);
        long osErrno = 0;
        lib().easy_getinfo(t->easy, CURLINFO_OS_ERRNO, &osErrno);
        finish(t->id, std::nullopt,
               t->tooLarge ? urlError(kUrlErrorDataLengthExceedsMaximum) : errorForCurl(rc, osErrno, t->errorText));
      }
    }

    // The time-outs are ours, on the foundation clock, so that tests can run them on a
    // manual clock; curl's own timers only drive its protocol work.
    std::optional<MonoTime> next;
    bool manual = false;
    MonoTime now{};
    for (auto it = active_.begin(); it != active_.end();) {
      Transfer& t = *it->second;
      ++it;
      t.followClock();
      noteSent(t);
      now = t.clock->now();
      const MonoTime deadline = t.deadline();
      if (now >= deadline) {
        finish(t.id, std::nullopt, urlError(kUrlErrorTimedOut));
        continue;
      }
      if (t.clock->isManual()) {
        manual = true;
      } else if (!next || deadline < *next) {
        next = deadline;
      }
    }

    long curlWait = -1;
    lib().multi_timeout(multi, &curlWait);
    long waitMs = active_.empty() ? 60'000 : (curlWait < 0 ? 1000 : curlWait);
    if (manual) waitMs = std::min(waitMs, 5L);
    if (next) {
      auto untilDeadline =
          std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::current().now()).count();
      waitMs = std::min<long>(waitMs, std::max<long>(0, untilDeadline));
    }
    lib().multi_poll(multi, nullptr, 0, static_cast<int>(std::min(waitMs, 60'000L)), nullptr);
  }
}

}  // namespace net
