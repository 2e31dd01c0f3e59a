#include "testing/backoffice/BackOfficeServer.h"

#include <httplib.h>

#include <fstream>
#include <sstream>

#include "testing/backoffice/SoapCodec.h"

namespace backoffice {

namespace {

std::string stripQuotes(std::string s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

// Replaces "Response" in an object answer, or in each row of a list answer.
void overrideResponse(nlohmann::json& answer, const std::string& value) {
  if (answer.is_object()) answer["Response"] = value;
  if (answer.is_array())
    for (auto& row : answer)
      if (row.is_object()) row["Response"] = value;
}

}  // namespace

BackOfficeServer::BackOfficeServer(std::filesystem::path dataFolder)
    : imageFolder_(dataFolder / "styleimages") {
  state_.catalogue.load(dataFolder, &loadError_);
  http_ = std::make_unique<httplib::Server>();
  install();
}

BackOfficeServer::~BackOfficeServer() { stop(); }

void BackOfficeServer::install() {
  auto route = [this](ServiceKind kind) {
    return [this, kind](const httplib::Request& req, httplib::Response& res) {
      Reply r = handle(kind, req.path, req.get_header_value("SOAPAction"),
                       req.get_header_value("Content-Type"),
                       req.get_header_value("Content-Length"), req.body);
      res.status = r.status;
      res.set_content(r.body, r.contentType.c_str());
    };
  };
  http_->Post(kMobilePath, route(ServiceKind::Mobile));
  http_->Post(kScanPackPath, route(ServiceKind::ScanPack));
  auto image = [this](const httplib::Request& req, httplib::Response& res) {
    std::string body, type = "text/plain";
    int status = 404;
    serveImage(req.matches[1], status, body, type);
    RecordedRequest rec{"GET", req.path, {}, {}, {}, {}, {}, {}, status};
    {
      std::lock_guard l(mutex_);
      requests_.push_back(rec);
    }
    log("GET " + req.path + " -> " + std::to_string(status));
    res.status = status;
    res.set_content(body, type.c_str());
  };
  http_->Get(R"(/styleimages/(.+))", image);
}

void BackOfficeServer::serveImage(const std::string& path, int& status, std::string& body,
                                  std::string& type) {
  // Relative paths of plain names only: no empty or hidden segments, no way out of the
  // picture folder. "resizeImages/<name>" is the reduced copy of a picture, which is the
  // same file here; deeper paths below "resizeImages" are the order pictures.
  std::vector<std::string> segments;
  for (size_t at = 0; at <= path.size();) {
    size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    std::string segment = path.substr(at, slash - at);
    if (segment.empty() || segment[0] == '.' || segment.find('\\') != std::string::npos) return;
    segments.push_back(std::move(segment));
    at = slash + 1;
  }
  if (segments.size() == 2 && segments[0] == "resizeImages") segments.erase(segments.begin());
  {
    std::lock_guard l(mutex_);
    if (auto made = state_.documents.find(path); made != state_.documents.end()) {
      body = made->second;
      status = 200;
      type = path.ends_with(".jpg") ? "image/jpeg" : "application/pdf";
      return;
    }
  }
  std::filesystem::path file = imageFolder_;
  for (const auto& segment : segments) file /= segment;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return;
  std::ifstream in(file, std::ios::binary);
  if (!in) return;
  std::stringstream ss;
  ss << in.rdbuf();
  body = ss.str();
  status = 200;
  const std::string ext = file.extension().string();
  type = ext == ".png"   ? "image/png"
         : ext == ".pdf" ? "application/pdf"
         : ext == ".zip" ? "application/zip"
                         : "image/jpeg";
}

bool BackOfficeServer::start(int port, const std::string& host) {
  {
    std::lock_guard l(mutex_);
    stopping_ = false;
  }
  // In-process servers close each connection after its answer, so that `stop` never
  // waits for an idle keep-alive connection to time out.
  http_->set_keep_alive_max_count(1);
  if (port == 0) {
    port_ = http_->bind_to_any_port(host.c_str());
    if (port_ <= 0) return false;
  } else {
    if (!http_->bind_to_port(host.c_str(), port)) return false;
    port_ = port;
  }
  thread_ = std::thread([this] { http_->listen_after_bind(); });
  while (!http_->is_running() && thread_.joinable()) std::this_thread::yield();
  log("back office listening on " + host + ":" + std::to_string(port_));
  return true;
}

bool BackOfficeServer::run(int port, const std::string& host) {
  if (!http_->bind_to_port(host.c_str(), port)) return false;
  port_ = port;
  log("back office listening on " + host + ":" + std::to_string(port_));
  return http_->listen_after_bind();
}

void BackOfficeServer::stop() {
  {
    std::lock_guard l(mutex_);
    stopping_ = true;
  }
  heldCv_.notify_all();
  if (http_) http_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string BackOfficeServer::baseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void BackOfficeServer::setFault(const std::string& operation, Fault fault) {
  std::lock_guard l(mutex_);
  faults_[operation] = std::move(fault);
}

void BackOfficeServer::clearFaults() {
  std::lock_guard l(mutex_);
  faults_.clear();
}

void BackOfficeServer::releaseHeld() {
  {
    std::lock_guard l(mutex_);
    ++releaseGeneration_;
  }
  heldCv_.notify_all();
}

int BackOfficeServer::heldCount() const {
  std::lock_guard l(mutex_);
  return held_;
}

std::vector<RecordedRequest> BackOfficeServer::requests() const {
  std::lock_guard l(mutex_);
  return requests_;
}

std::vector<Call> BackOfficeServer::received(const std::string& operation) const {
  std::lock_guard l(mutex_);
  auto it = state_.received.find(operation);
  return it == state_.received.end() ? std::vector<Call>{} : it->second;
}

std::vector<std::string> BackOfficeServer::serverLog() const {
  std::lock_guard l(mutex_);
  return state_.serverLog;
}

void BackOfficeServer::withState(const std::function<void(State&)>& f) {
  std::lock_guard l(mutex_);
  f(state_);
}

void BackOfficeServer::setLogSink(std::function<void(const std::string&)> sink) {
  std::lock_guard l(mutex_);
  logSink_ = std::move(sink);
}

void BackOfficeServer::log(const std::string& line) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard l(mutex_);
    sink = logSink_;
  }
  if (sink) sink(line);
}

Fault BackOfficeServer::faultFor(const std::string& operation) const {
  std::lock_guard l(mutex_);
  auto it = faults_.find(operation);
  return it == faults_.end() ? Fault{} : it->second;
}

void BackOfficeServer::waitWhileHeld(const Fault& fault) {
  std::unique_lock l(mutex_);
  if (fault.delay.count() > 0)
    heldCv_.wait_for(l, fault.delay, [&] { return stopping_; });
  if (fault.hold) {
    const uint64_t generation = releaseGeneration_;
    ++held_;
    heldCv_.wait(l, [&] { return stopping_ || releaseGeneration_ != generation; });
    --held_;
  }
}

BackOfficeServer::Reply BackOfficeServer::handle(ServiceKind service, const std::string& path,
                                                 const std::string& soapActionHeader,
                                                 const std::string& contentType,
                                                 const std::string& contentLength,
                                                 const std::string& body) {
  RecordedRequest rec{"POST", path, soapActionHeader, contentType, contentLength, body, {}, {}, 0};
  auto finish = [&](Reply reply, const std::string& note) {
    rec.status = reply.status;
    {
      std::lock_guard l(mutex_);
      requests_.push_back(rec);
    }
    log("POST " + path + " action=" + soapActionHeader + " op=" + rec.operation +
        " params=" + std::to_string(rec.params.size()) + " bytes=" + std::to_string(body.size()) +
        " -> " + std::to_string(reply.status) + (note.empty() ? "" : " (" + note + ")"));
    return reply;
  };
  auto fault = [&](const std::string& text) {
    return finish({500, "text/xml; charset=utf-8", faultEnvelope(text)}, text);
  };

  const std::string action = stripQuotes(soapActionHeader);
  const std::string serviceNamespace = kNamespace;
  if (action.rfind(serviceNamespace, 0) != 0)
    return fault("Server did not recognize the value of HTTP Header SOAPAction: " + action + ".");
  const std::string opName = action.substr(serviceNamespace.size());
  const Operation* op = findOperation(service, opName);
  if (!op)
    return fault("Server did not recognize the value of HTTP Header SOAPAction: " + action + ".");

  std::string parseError;
  RequestNamespaces ns;
  auto call = parseRequestEnvelope(body, &parseError, &ns);
  if (!call) return fault("Server was unable to read request. " + parseError);
  rec.operation = call->operation;
  rec.params = call->params;
  if (ns.envelope != kSoapEnvelopeNamespace)
    return fault("The request is not a SOAP 1.1 envelope (namespace \"" + ns.envelope + "\").");
  if (call->operation != op->name)
    return fault("The body element " + call->operation + " does not match SOAPAction " + action + ".");
  // The operation element must be in the namespace that "SOAPAction" names.
  if (ns.operation != serviceNamespace)
    return fault("The body element " + call->operation + " is in the namespace \"" + ns.operation +
                 "\", not \"" + serviceNamespace + "\".");
  if (!paramsInOrder(*op, *call)) return fault("Parameters of " + opName + " are missing or out of order.");

  const Fault f = faultFor(opName);
  waitWhileHeld(f);

  Answer answer;
  {
    std::lock_guard l(mutex_);
    state_.received[opName].push_back(*call);
    answer = op->handler(*call, state_);
  }
  if (f.holdAnswer) {
    Fault hold;
    hold.hold = true;
    waitWhileHeld(hold);
  }
  if (f.http500) return finish({500, "text/html; charset=utf-8", errorPage(opName)}, "error page");
  if (f.htmlOk) return finish({200, "text/html; charset=utf-8", errorPage(opName)}, "error page, status 200");
  if (f.faultOk) return finish({200, "text/xml; charset=utf-8", faultEnvelope(*f.faultOk)}, "fault, status 200");
  std::string text;
  if (auto* j = std::get_if<nlohmann::json>(&answer)) {
    if (f.response) overrideResponse(*j, *f.response);
    text = j->dump();
  } else {
    text = std::get<std::string>(answer);
  }
  if (f.resultText) text = *f.resultText;
  if (f.malformedJson) text = text.substr(0, text.size() / 2) + "\x7f{";
  if (f.malformedXml)
    return finish({200, "text/xml; charset=utf-8", malformedAnswerEnvelope(opName, text)},
                  "malformed XML");
  return finish({200, "text/xml; charset=utf-8", answerEnvelope(opName, text)}, "");
}

}  // namespace backoffice
