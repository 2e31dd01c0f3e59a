#include "platform/net/HttpClient.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/RunLoop.h"
#include "testing/net/HttpTestServers.h"

extern char** environ;

using foundation::MainQueue::isMainThread;
using foundation::RunLoop;
using net::HttpClient;
using net::HttpHeaders;
using net::HttpRequest;
using net::HttpResponse;
using net::testing::RawHttpServer;
using namespace std::chrono_literals;

namespace {

// A private folder under the test's temporary folder, removed when the test ends.
struct ScratchFolder {
  std::filesystem::path path;
  explicit ScratchFolder(const std::string& prefix) {
    std::string tmpl = (std::filesystem::path(::testing::TempDir()) / (prefix + "-XXXXXX")).string();
    if (char* made = ::mkdtemp(tmpl.data())) path = made;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

// What a completion saw.
struct Outcome {
  bool done = false;
  bool onMainThread = false;
  std::optional<HttpResponse> response;
  foundation::Error error;

  HttpClient::Completion completion() {
    return [this](std::optional<HttpResponse> r, foundation::Error e) {
      done = true;
      onMainThread = isMainThread();
      response = std::move(r);
      error = std::move(e);
    };
  }
  bool wait() { return RunLoop::main().runUntil([this] { return done; }); }
};

// The header lines of a raw request, in order, without the request line.
std::vector<std::string> headerLines(const std::string& request) {
  std::vector<std::string> lines;
  size_t end = request.find("\r\n\r\n");
  size_t pos = request.find("\r\n") + 2;
  while (pos < end) {
    size_t eol = request.find("\r\n", pos);
    lines.push_back(request.substr(pos, eol - pos));
    pos = eol + 2;
  }
  return lines;
}

std::string headerName(const std::string& line) {
  std::string name = line.substr(0, line.find(':'));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// A cpp-httplib server on an ephemeral loopback port, listening on its own thread.
class LocalServer {
 public:
  explicit LocalServer(httplib::Server& server, std::string scheme = "http")
      : server_(server), scheme_(std::move(scheme)) {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~LocalServer() {
    server_.stop();
    thread_.join();
  }
  std::string url(const std::string& path, const std::string& host = "127.0.0.1") const {
    return scheme_ + "://" + host + ":" + std::to_string(port_) + path;
  }

 private:
  httplib::Server& server_;
  std::string scheme_;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace

TEST(HttpClient, PostGoesOutAsGivenAndTheAnswerComesBackInOrderOnTheMainThread) {
  RawHttpServer server(
      "HTTP/1.1 201 Created\r\nX-Second: b\r\nX-First: a\r\nX-Folded: one\r\n two\r\n"
      "Content-Length: 5\r\n\r\nhello");
  // Large enough that curl would otherwise ask for "Expect: 100-continue"; multi-byte
  // characters so that the byte length differs from the character count.
  std::string body = "<soap:Envelope>caf\xC3\xA9 &amp; ";
  body += std::string(1536 * 1024, 'x') + "</soap:Envelope>";
  HttpRequest request;
  request.method = "POST";
  request.url = server.url("/Webservice/OrvoMobileWebService.asmx");
  // A stale length from the caller is replaced by the real one, in the caller's place.
  request.headers = {{"Content-Type", "text/xml; charset=utf-8"},
                     {"SOAPAction", "http://example.org/GetMethods"},
                     {"Content-Length", "12"}};
  request.body = body;
  request.timeout = 10s;
  std::vector<std::string> order;
  request.sent = [&] { order.push_back("sent"); };
  Outcome outcome;
  HttpClient::shared().send(request, [&](std::optional<HttpResponse> r, foundation::Error e) {
    order.push_back("completion");
    outcome.completion()(std::move(r), std::move(e));
  });
  ASSERT_TRUE(outcome.wait());

  ASSERT_EQ(server.requests().size(), 1u);
  const std::string raw = server.requests()[0];
  EXPECT_EQ(raw.substr(0, raw.find("\r\n")),
            "POST /Webservice/OrvoMobileWebService.asmx HTTP/1.1");
  std::vector<std::string> names;
  int contentLengths = 0;
  for (const auto& line : headerLines(raw)) {
    names.push_back(headerName(line));
    if (headerName(line) == "content-length") {
      ++contentLengths;
      EXPECT_EQ(line, "Content-Length: " + std::to_string(body.size()));
    }
    EXPECT_NE(headerName(line), "expect") << line;
  }
  EXPECT_EQ(contentLengths, 1);
  auto at = [&](const char* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_LT(at("content-type"), at("soapaction"));
  EXPECT_LT(at("soapaction"), at("content-length"));
  EXPECT_LT(at("content-length"), static_cast<long>(names.size()));
  EXPECT_EQ(raw.substr(raw.find("\r\n\r\n") + 4), body);

  EXPECT_TRUE(outcome.onMainThread);
  EXPECT_FALSE(outcome.error.isError());
  ASSERT_TRUE(outcome.response);
  EXPECT_EQ(outcome.response->status, 201);
  EXPECT_EQ(outcome.response->body, "hello");
  EXPECT_EQ(outcome.response->headers,
            (HttpHeaders{{"X-Second", "b"}, {"X-First", "a"}, {"X-Folded", "one two"},
                         {"Content-Length", "5"}}));
  EXPECT_EQ(outcome.response->header("x-first"), "a");
  EXPECT_EQ(order, (std::vector<std::string>{"sent", "completion"}));
}

TEST(HttpClient, ErrorStatusesAreAnswersWithTheirBody) {
  httplib::Server http;
  http.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("no such page", "text/plain");
  });
  http.Post("/fault", [](const httplib::Request& req, httplib::Response& res) {
    res.status = 500;
    res.set_content("fault for " + req.body, "text/xml");
  });
  LocalServer server(http);
  HttpClient client;  // closes its kept-alive connections before the server stops
  struct Case {
    const char* method;
    const char* path;
    int status;
    const char* body;
  } cases[] = {{"GET", "/missing", 404, "no such page"}, {"POST", "/fault", 500, "fault for x"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    HttpRequest request;
    request.method = c.method;
    request.url = server.url(c.path);
    request.body = "x";
    Outcome outcome;
    client.send(request, outcome.completion());
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(outcome.response) << outcome.error.description();
    EXPECT_FALSE(outcome.error.isError());
    EXPECT_EQ(outcome.response->status, c.status);
    EXPECT_EQ(outcome.response->body, c.body);
    EXPECT_EQ(outcome.response->header("Content-Type"), c.status == 404 ? "text/plain" : "text/xml");
  }
}

TEST(HttpClient, FailuresCompleteWithUrlErrors) {
  const std::string closed = "http://127.0.0.1:" + std::to_string(net::testing::closedPort()) + "/";
  struct Case {
    const char* name;
    std::string url;
    HttpHeaders headers;
    int code;
  } cases[] = {
      {"closed port", closed, {}, -1004},
      {"unknown host", "http://no-such-host.invalid/", {}, -1003},
      {"unsupported scheme", "file:///etc/passwd", {}, -1002},
      {"ftp is not fetched", "ftp://127.0.0.1:" + std::to_string(net::testing::closedPort()) + "/", {}, -1002},
      {"not a URL", "http://exa mple.com:port/", {}, -1000},
      {"line break in a header", closed, {{"X-Injected", "a\r\nHost: evil"}}, -1},
      {"bad header name", closed, {{"Bad Name", "v"}}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HttpRequest request;
    request.url = c.url;
    request.headers = c.headers;
    request.timeout = 10s;
    Outcome outcome;
    HttpClient::shared().send(request, outcome.completion());
    ASSERT_TRUE(outcome.wait());
    EXPECT_TRUE(outcome.onMainThread);
    EXPECT_FALSE(outcome.response);
    EXPECT_EQ(outcome.error.domain, "NSURLErrorDomain");
    EXPECT_EQ(outcome.error.code, c.code);
    EXPECT_FALSE(outcome.error.text.empty());
  }
}

TEST(HttpClient, ErrorTextsOfTheCodesCallersWordMessagesBy) {
  EXPECT_EQ(net::urlError(-1001).text, "The request timed out.");
  EXPECT_EQ(net::urlError(-1003).text, "A server with the specified hostname could not be found.");
  EXPECT_EQ(net::urlError(-1004).text, "Could not connect to the server.");
  EXPECT_EQ(net::urlError(-1004).domain, "NSURLErrorDomain");
}

TEST(HttpClient, ServerThatNeverAnswersTimesOutOnTheClock) {
  foundation::ScopedManualClock clock;
  RawHttpServer server("");  // reads the request, never replies
  HttpRequest request;
  request.method = "POST";
  request.url = server.url("/slow");
  request.body = "<x/>";
  request.timeout = 10s;
  bool sent = false;
  request.sent = [&] { sent = true; };
  Outcome outcome;
  HttpClient::shared().send(request, outcome.completion());
  ASSERT_TRUE(server.waitFor([](RawHttpServer& s) { return s.requestCountLocked() == 1; }));

  // Waiting is idle time: nine seconds in, the request still waits.
  clock->advance(9s);
  EXPECT_FALSE(RunLoop::main().runUntil([&] { return outcome.done; }, 50ms));
  // The worker may have taken its last-progress time a moment after the first step, so the
  // clock moves on in steps until the request ends (at most ten more idle seconds).
  for (int step = 0; step < 20 && !outcome.done; ++step) {
    clock->advance(1s);
    RunLoop::main().runUntil([&] { return outcome.done; }, 50ms);
  }
  ASSERT_TRUE(outcome.wait());
  EXPECT_FALSE(outcome.response);
  EXPECT_EQ(outcome.error.code, -1001);
  EXPECT_EQ(outcome.error.text, "The request timed out.");
  // The request had gone out before the wait timed out.
  EXPECT_TRUE(sent);
}

TEST(HttpClient, SystemClockTimeoutEndsTheRequestOnItsOwn) {
  // The one real wait of this suite, kept short: the worker must wake up for a deadline
  // when nothing else happens.
  RawHttpServer server("");
  HttpRequest request;
  request.url = server.url("/");
  request.timeout = 300ms;
  Outcome outcome;
  const auto start = std::chrono::steady_clock::now();
  HttpClient::shared().send(request, outcome.completion());
  ASSERT_TRUE(outcome.wait());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(outcome.error.code, -1001);
  // Not sooner than its time-out; how much later depends on the machine's load, and a worker
  // that never woke would fail the wait above.
  EXPECT_GE(elapsed, 300ms);
}

TEST(HttpClient, TimeoutWhileSendingIsReportedBeforeTheRequestWentOut) {
  foundation::ScopedManualClock clock;
  // Nobody reads: a body far larger than the socket buffers cannot go out.
  net::testing::UnacceptedListener server;
  HttpRequest request;
  request.method = "POST";
  request.url = server.url("/");
  request.body = std::string(32 * 1024 * 1024, 'x');
  request.timeout = 10s;
  bool sent = false;
  request.sent = [&] { sent = true; };
  Outcome outcome;
  HttpClient::shared().send(request, outcome.completion());
  // Bytes moving keep the request alive; time goes on until sending has stalled for 10 s.
  ASSERT_TRUE(RunLoop::main().runUntil([&] {
    clock->advance(1s);
    return outcome.done;
  }));
  EXPECT_EQ(outcome.error.code, -1001);
  EXPECT_FALSE(sent);
}

TEST(HttpClient, ResourceTimeoutLimitsTheWholeRequest) {
  foundation::ScopedManualClock clock;
  RawHttpServer server("");
  HttpRequest request;
  request.url = server.url("/");
  request.timeout = 10s;
  request.resourceTimeout = 3s;
  Outcome outcome;
  HttpClient::shared().send(request, outcome.completion());
  ASSERT_TRUE(server.waitFor([](RawHttpServer& s) { return s.requestCountLocked() == 1; }));
  clock->advance(3s);
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(outcome.error.code, -1001);
}

TEST(HttpClient, SeveralRequestsAreInFlightAtOnce) {
  // The server holds every answer until all requests have arrived, so they can only
  // complete if the client runs them side by side. A test that gave up lets the held
  // answers go (as "alone"), so the server can stop.
  constexpr int kRequests = 4;
  std::mutex mutex;
  std::condition_variable cv;
  int arrived = 0;
  bool givenUp = false;
  httplib::Server http;
  http.Get(R"(/item/(\d+))", [&](const httplib::Request& req, httplib::Response& res) {
    std::unique_lock<std::mutex> lock(mutex);
    ++arrived;
    cv.notify_all();
    cv.wait(lock, [&] { return arrived == kRequests || givenUp; });
    res.set_content(arrived == kRequests ? "item " + req.matches[1].str() : "alone", "text/plain");
  });
  LocalServer server(http);
  struct GiveUp {
    std::mutex& mutex;
    std::condition_variable& cv;
    bool& givenUp;
    ~GiveUp() {
      std::lock_guard<std::mutex> lock(mutex);
      givenUp = true;
      cv.notify_all();
    }
  } giveUp{mutex, cv, givenUp};
  HttpClient client;  // closes its kept-alive connections before the server stops

  std::vector<Outcome> outcomes(kRequests);
  for (int i = 0; i < kRequests; ++i) {
    HttpRequest request;
    request.url = server.url("/item/" + std::to_string(i));
    client.send(request, outcomes[i].completion());
  }
  ASSERT_TRUE(RunLoop::main().runUntil([&] {
    for (auto& o : outcomes)
      if (!o.done) return false;
    return true;
  }));
  for (int i = 0; i < kRequests; ++i) {
    ASSERT_TRUE(outcomes[i].response) << outcomes[i].error.description();
    EXPECT_EQ(outcomes[i].response->body, "item " + std::to_string(i));
  }
}

TEST(HttpClient, ConsecutiveRequestsReuseTheConnection) {
  httplib::Server http;
  http.Get("/port", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(std::to_string(req.remote_port), "text/plain");
  });
  LocalServer server(http);
  HttpClient client;
  std::vector<std::string> ports;
  for (int i = 0; i < 3; ++i) {
    HttpRequest request;
    request.url = server.url("/port");
    Outcome outcome;
    client.send(request, outcome.completion());
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(outcome.response);
    ports.push_back(outcome.response->body);
  }
  EXPECT_EQ(ports[1], ports[0]);
  EXPECT_EQ(ports[2], ports[0]);
}

TEST(HttpClient, CancelledRequestNeverCompletesAndDropsItsConnection) {
  RawHttpServer silent("");
  HttpRequest request;
  request.url = silent.url("/");
  bool completed = false;
  auto id = HttpClient::shared().send(request, [&](auto, auto) { completed = true; });
  ASSERT_TRUE(silent.waitFor([](RawHttpServer& s) { return s.requestCountLocked() == 1; }));
  HttpClient::shared().cancel(id);
  EXPECT_TRUE(silent.waitFor([](RawHttpServer& s) { return s.closedLocked() == 1; }));

  // A request cancelled right after it was sent to a server that answers at once: whether
  // the answer is already queued or not, its completion does not run.
  RawHttpServer quick("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  request.url = quick.url("/");
  bool quickCompleted = false;
  id = HttpClient::shared().send(request, [&](auto, auto) { quickCompleted = true; });
  ASSERT_TRUE(quick.waitFor([](RawHttpServer& s) { return s.requestCountLocked() == 1; }));
  std::this_thread::sleep_for(20ms);  // let the answer reach the main queue
  HttpClient::shared().cancel(id);
  HttpClient::shared().cancel(id);  // twice is harmless

  // A later request still completes, and nothing of the cancelled ones ran before it.
  Outcome later;
  HttpClient::shared().send(request, later.completion());
  ASSERT_TRUE(later.wait());
  EXPECT_TRUE(later.response);
  EXPECT_FALSE(completed);
  EXPECT_FALSE(quickCompleted);
}

TEST(HttpClient, DestroyedClientDropsItsRequestsWithoutCompletions) {
  RawHttpServer silent("");
  bool completed = false;
  {
    HttpClient client;
    HttpRequest request;
    request.url = silent.url("/");
    client.send(request, [&](auto, auto) { completed = true; });
    ASSERT_TRUE(silent.waitFor([](RawHttpServer& s) { return s.requestCountLocked() == 1; }));
  }
  EXPECT_TRUE(silent.waitFor([](RawHttpServer& s) { return s.closedLocked() == 1; }));
  bool marker = false;
  foundation::MainQueue::post([&] { marker = true; });
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return marker; }));
  EXPECT_FALSE(completed);
}

TEST(HttpClient, RedirectIsFollowedToTheFinalAnswer) {
  httplib::Server http;
  http.Post("/old", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("/new", 302);
  });
  http.Get("/new", [](const httplib::Request& req, httplib::Response& res) {
    res.set_header("X-Final", "yes");
    res.set_content("moved here; length header " + req.get_header_value("Content-Length"),
                    "text/plain");
  });
  LocalServer server(http);
  HttpClient client;  // closes its kept-alive connections before the server stops
  HttpRequest request;
  request.method = "POST";
  request.url = server.url("/old");
  request.headers = {{"Content-Type", "text/xml"}, {"Content-Length", "3"}};
  request.body = "abc";
  request.timeout = 5s;
  Outcome outcome;
  client.send(request, outcome.completion());
  ASSERT_TRUE(outcome.wait());
  ASSERT_TRUE(outcome.response) << outcome.error.description();
  EXPECT_EQ(outcome.response->status, 200);
  EXPECT_EQ(outcome.response->header("X-Final"), "yes");
  EXPECT_FALSE(outcome.response->header("Location"));
  EXPECT_EQ(outcome.response->body, "moved here; length header ");
}

// A caller that allows only https sends nothing in clear, and one that keeps its body with
// its origin has a 307/308 to another origin refused; 303 (no body) and the same origin go on.
TEST(HttpClient, NarrowedRequestsNeverGoInClearNorHandTheirBodyToAnotherOrigin) {
  RawHttpServer clear("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  httplib::Server other;
  std::atomic<int> otherBodies{0};
  other.Post("/in", [&](const httplib::Request& req, httplib::Response& res) {
    if (!req.body.empty()) ++otherBodies;
    res.set_content("taken", "text/plain");
  });
  other.Get("/in", [](const httplib::Request&, httplib::Response& res) { res.set_content("got", "text/plain"); });
  LocalServer otherServer(other);
  httplib::Server first;
  first.Post(R"(/to/(\d+)/(.*))", [&](const httplib::Request& req, httplib::Response& res) {
    const std::string target = req.matches[2] == "same" ? "/in" : otherServer.url("/in", "localhost");
    res.set_redirect(target, std::stoi(req.matches[1]));
  });
  first.Post("/in", [](const httplib::Request& req, httplib::Response& res) { res.set_content(req.body, "text/plain"); });
  LocalServer firstServer(first);
  HttpClient client;

  struct Case {
    std::string path;
    std::string url;  // instead of the first server's path
    std::string protocols;
    int code;           // 0: an answer
    std::string body;   // of the answer
  };
  const Case cases[] = {
      {"", clear.url("/"), "https", -1022, ""},
      {"", "ftp://127.0.0.1:1/file", "https", -1002, ""},
      {"/to/307/other", "", "http", -1011, ""},
      {"/to/308/other", "", "http", -1011, ""},
      {"/to/303/other", "", "http", 0, "got"},
      {"/to/307/same", "", "http", 0, "secret"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + c.url);
    HttpRequest request;
    request.method = "POST";
    request.url = c.url.empty() ? firstServer.url(c.path) : c.url;
    request.body = "secret";
    request.protocols = c.protocols;
    request.bodyToOtherOrigin = false;
    request.timeout = 5s;
    Outcome outcome;
    client.send(request, outcome.completion());
    ASSERT_TRUE(outcome.wait());
    if (c.code != 0) {
      EXPECT_EQ(outcome.error.code, c.code);
    } else {
      ASSERT_TRUE(outcome.response) << outcome.error.description();
      EXPECT_EQ(outcome.response->body, c.body);
    }
  }
  EXPECT_EQ(clear.connections(), 0);
  EXPECT_EQ(otherBodies.load(), 0);
}

TEST(HttpClient, RedirectLoopFailsWithTooManyRedirects) {
  RawHttpServer server("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0\r\n\r\n");
  HttpRequest request;
  request.url = server.url("/");
  Outcome outcome;
  HttpClient::shared().send(request, outcome.completion());
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(outcome.error.code, -1007);
  EXPECT_EQ(server.requests().size(), 17u);  // the first request and 16 redirects
}

TEST(HttpClient, GetSyncBlocksForTheAnswerOrTheError) {
  httplib::Server http;
  http.Get("/", [](const httplib::Request& req, httplib::Response& res) {
    if (req.get_param_value("format") == "json")
      res.set_content(R"({"ip":"10.1.2.3"})", "application/json");
  });
  http.set_keep_alive_timeout(0);  // the shared client's connection must not hold it open
  LocalServer server(http);
  foundation::Error error;
  auto response = HttpClient::getSync(server.url("/?format=json"), 5s, &error);
  ASSERT_TRUE(response) << error.description();
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(response->body, R"({"ip":"10.1.2.3"})");

  const std::string closed = "http://127.0.0.1:" + std::to_string(net::testing::closedPort()) + "/";
  EXPECT_FALSE(HttpClient::getSync(closed, 5s, &error));
  EXPECT_EQ(error.code, -1004);
  EXPECT_FALSE(HttpClient::getSync(closed, 5s));  // no error out-parameter
}

TEST(HttpClient, GetSyncTimesOutOnTheClockWithinItsLimit) {
  foundation::ScopedManualClock clock;
  RawHttpServer server("");
  std::thread advancer([&] {
    server.waitFor([](RawHttpServer& s) { return s.requestCountLocked() == 1; });
    clock->advance(2s);
  });
  foundation::Error error;
  EXPECT_FALSE(HttpClient::getSync(server.url("/"), 2s, &error));
  advancer.join();
  EXPECT_EQ(error.code, -1001);
}

TEST(HttpClient, HttpsTrustsOnlyVerifiedCertificates) {
  const ScratchFolder scratch("net-test");
  const std::string dir = scratch.path.string() + "/";
  const std::string cert = dir + "net_test_cert.pem", key = dir + "net_test_key.pem";
  ASSERT_TRUE(net::testing::makeSelfSignedCertificate(cert, key));
  httplib::SSLServer https(cert.c_str(), key.c_str());
  ASSERT_TRUE(https.is_valid());
  https.Post("/api/check-in", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content("secure " + req.body, "application/json");
  });
  LocalServer server(https, "https");
  HttpClient client;
  struct Case {
    const char* name;
    std::string host;
    std::string caFile;
    int code;  // 0: answered
  } cases[] = {
      {"self-signed, system authorities", "127.0.0.1", "", -1202},
      {"trusted through the CA file", "127.0.0.1", cert, 0},
      {"trusted, by host name", "localhost", cert, 0},
      {"CA file missing", "127.0.0.1", dir + "no-such-ca.pem", -1200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HttpRequest request;
    request.method = "POST";
    request.url = server.url("/api/check-in", c.host);
    request.headers = {{"content-type", "application/json"}};
    request.body = "{}";
    request.caFile = c.caFile;
    Outcome outcome;
    client.send(request, outcome.completion());
    ASSERT_TRUE(outcome.wait());
    if (c.code == 0) {
      ASSERT_TRUE(outcome.response) << outcome.error.description();
      EXPECT_EQ(outcome.response->body, "secure {}");
    } else {
      EXPECT_FALSE(outcome.response);
      EXPECT_EQ(outcome.error.code, c.code) << outcome.error.description();
    }
  }
}

namespace {

// A server whose answer never ends: chunks of 16 KiB, about one a millisecond, until the
// client goes away. `sent` counts the bytes written.
struct EndlessServer {
  httplib::Server http;
  std::atomic<size_t> sent{0};
  std::unique_ptr<LocalServer> local;

  EndlessServer() {
    http.Get("/endless", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/octet-stream", [this](size_t, httplib::DataSink& sink) {
        static const std::string chunk(16 * 1024, 'x');
        if (!sink.is_writable() || !sink.write(chunk.data(), chunk.size())) return false;
        sent += chunk.size();
        std::this_thread::sleep_for(1ms);  // pacing, so the client's memory stays small
        return true;
      });
    });
    local = std::make_unique<LocalServer>(http);
  }
};

}  // namespace

TEST(HttpClient, AnswersAreBoundedInSizeAndInTotalTime) {
  foundation::ScopedManualClock clock;
  EndlessServer server;
  {
    SCOPED_TRACE("size");
    HttpRequest request;
    request.url = server.local->url("/endless");
    request.maxResponseSize = 256 * 1024;
    Outcome outcome;
    HttpClient::shared().send(request, outcome.completion());
    ASSERT_TRUE(outcome.wait());
    EXPECT_FALSE(outcome.response);
    EXPECT_EQ(outcome.error.code, net::kUrlErrorDataLengthExceedsMaximum);
    EXPECT_EQ(outcome.error.text, "The answer is larger than the size allowed.");
  }
  {
    SCOPED_TRACE("total time");
    HttpRequest request;
    request.url = server.local->url("/endless");
    request.timeout = 1000s;  // bytes keep coming: the idle time-out never ends it
    request.resourceTimeout = 30s;
    Outcome outcome;
    const size_t before = server.sent;
    HttpClient::shared().send(request, outcome.completion());
    ASSERT_TRUE(RunLoop::main().runUntil([&] { return server.sent > before + 256 * 1024 || outcome.done; }));
    EXPECT_FALSE(outcome.done);
    clock->advance(31s);
    ASSERT_TRUE(outcome.wait());
    EXPECT_FALSE(outcome.response);
    EXPECT_EQ(outcome.error.code, -1001);
  }
  EXPECT_EQ(HttpRequest().maxResponseSize, net::kDefaultMaxResponseSize);
  EXPECT_GT(HttpRequest().resourceTimeout, foundation::Duration::zero());
}

// libcurl is opened when the first client is made. A process that cannot open it (here a
// file in its place that is no library, found first through LD_LIBRARY_PATH) fails each
// request at once with the reason, on the main queue as any failure, and sends nothing.
// The library is opened once per process, so the check runs in a child of its own.
TEST(HttpClient, WithoutLibcurlEveryRequestFailsWithTheReason) {
  if (std::getenv("KESTRA_NET_TEST_WITHOUT_CURL")) {
    RawHttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    HttpRequest request;
    request.url = server.url("/");
    for (int i = 0; i < 2; ++i) {
      Outcome outcome;
      HttpClient::shared().send(request, outcome.completion());
      ASSERT_TRUE(outcome.wait());
      EXPECT_TRUE(outcome.onMainThread);
      EXPECT_FALSE(outcome.response);
      EXPECT_EQ(outcome.error.code, net::kUrlErrorUnknown);
      EXPECT_NE(outcome.error.text.find("libcurl.so.4 could not be loaded"), std::string::npos) << outcome.error.text;
    }
    EXPECT_EQ(server.connections(), 0);
    return;
  }
  namespace fs = std::filesystem;
  char folder[] = "/tmp/orvo-nocurl-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  std::ofstream(fs::path(folder) / "libcurl.so.4") << "not a library";
  std::vector<std::string> env = {"KESTRA_NET_TEST_WITHOUT_CURL=1", std::string("LD_LIBRARY_PATH=") + folder};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("LD_LIBRARY_PATH=", 0) != 0) env.push_back(*e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string self = fs::canonical("/proc/self/exe").string();
  std::string filter = "--gtest_filter=HttpClient.WithoutLibcurlEveryRequestFailsWithTheReason";
  char* argv[] = {self.data(), filter.data(), nullptr};
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data());
  int status = -1;
  if (rc == 0) ::waitpid(pid, &status, 0);
  fs::remove_all(folder);
  ASSERT_EQ(rc, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's checks failed (status " << status << ")";
}

