#include "testing/mdm/MdmServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>

namespace mdm {

namespace {

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

std::string unquote(std::string s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

// The value of `param` ("name", "filename") in a Content-Disposition line.
std::optional<std::string> dispositionParam(std::string_view line, std::string_view param) {
  size_t pos = 0;
  while ((pos = line.find(';', pos)) != std::string_view::npos) {
    ++pos;
    std::string_view rest = line.substr(pos);
    const size_t end = rest.find(';');
    std::string item = trim(rest.substr(0, end));
    const size_t eq = item.find('=');
    if (eq != std::string::npos && iequals(trim(item.substr(0, eq)), param)) return unquote(trim(item.substr(eq + 1)));
  }
  return std::nullopt;
}

}  // namespace

std::string Request::header(const std::string& name) const {
  for (const auto& [k, v] : headers)
    if (iequals(k, name)) return v;
  return {};
}

const FormPart* Request::part(const std::string& name) const {
  if (!parts) return nullptr;
  for (const auto& p : *parts)
    if (p.name == name) return &p;
  return nullptr;
}

std::optional<std::string> boundaryOf(std::string_view contentType) {
  const size_t semi = contentType.find(';');
  if (semi == std::string_view::npos || !iequals(trim(contentType.substr(0, semi)), "multipart/form-data"))
    return std::nullopt;
  std::string_view rest = contentType.substr(semi + 1);
  const std::string params = trim(rest);
  if (params.rfind("boundary=", 0) != 0) return std::nullopt;
  std::string b = unquote(params.substr(9));
  if (b.empty()) return std::nullopt;
  return b;
}

std::optional<std::vector<FormPart>> parseMultipart(std::string_view body, std::string_view boundary) {
  if (boundary.empty()) return std::nullopt;
  const std::string delimiter = "--" + std::string(boundary);
  if (body.substr(0, delimiter.size()) != delimiter) return std::nullopt;
  std::vector<FormPart> parts;
  size_t pos = delimiter.size();
  for (;;) {
    if (body.substr(pos, 2) == "--") return parts;  // the closing delimiter
    if (body.substr(pos, 2) != "\r\n") return std::nullopt;
    pos += 2;
    const size_t headEnd = body.find("\r\n\r\n", pos);
    if (headEnd == std::string_view::npos) return std::nullopt;
    FormPart part;
    bool named = false;
    for (size_t line = pos; line < headEnd;) {
      size_t eol = body.find("\r\n", line);
      if (eol == std::string_view::npos || eol > headEnd) eol = headEnd;
      std::string_view text = body.substr(line, eol - line);
      const size_t colon = text.find(':');
      if (colon != std::string_view::npos) {
        const std::string name = trim(text.substr(0, colon));
        if (iequals(name, "Content-Disposition")) {
          if (auto n = dispositionParam(text, "name")) {
            part.name = *n;
            named = true;
          }
          part.filename = dispositionParam(text, "filename");
        } else if (iequals(name, "Content-Type")) {
          part.contentType = trim(text.substr(colon + 1));
        }
      }
      line = eol + 2;
    }
    if (!named) return std::nullopt;
    const size_t valueStart = headEnd + 4;
    const size_t next = body.find("\r\n" + delimiter, valueStart);
    if (next == std::string_view::npos) return std::nullopt;
    part.value = std::string(body.substr(valueStart, next - valueStart));
    parts.push_back(std::move(part));
    pos = next + 2 + delimiter.size();
  }
}

MdmServer::MdmServer(std::filesystem::path certFolder) {
  ready_ = makeCertificates(certFolder, "mdm", &certs_);
  if (!ready_) return;
  http_ = std::make_unique<httplib::SSLServer>(certs_.serverCert.c_str(), certs_.serverKey.c_str());
  ready_ = http_->is_valid();
  defaults_[kCheckInPath] = Answer{200, R"({"message":"Success"})"};
  defaults_[kConfigurationPath] = Answer{200, "[]"};
  defaults_[kMetricPath] = Answer{200, R"({"message":"Metric received"})"};
  defaults_[kLogPath] = Answer{200, R"({"message":"Log received"})"};
  defaults_[kFirmwarePath] = Answer{200, "", "application/octet-stream"};
  install();
}

MdmServer::~MdmServer() { stop(); }

void MdmServer::install() {
  for (const char* path : {kCheckInPath, kConfigurationPath, kMetricPath, kLogPath, kFirmwarePath}) {
    const std::string p = path;
    http_->Post(p, [this, p](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
      Request rec;
      rec.method = req.method;
      rec.path = req.path;
      for (const auto& [k, v] : req.headers) rec.headers.emplace_back(k, v);
      if (req.is_multipart_form_data()) {
        // The server library reads forms itself; each part comes with its headers.
        std::vector<FormPart> parts;
        const bool whole = reader(
            [&](const httplib::MultipartFormData& head) {
              FormPart part;
              part.name = head.name;
              if (!head.filename.empty()) part.filename = head.filename;
              if (!head.content_type.empty()) part.contentType = head.content_type;
              parts.push_back(std::move(part));
              return true;
            },
            [&](const char* data, size_t length) {
              if (parts.empty()) return false;
              parts.back().value.append(data, length);
              rec.body.append(data, length);
              return true;
            });
        if (whole) rec.parts = std::move(parts);
      } else {
        reader([&](const char* data, size_t length) {
          rec.body.append(data, length);
          return true;
        });
        try {
          auto parsed = nlohmann::json::parse(rec.body);
          rec.json = std::move(parsed);
        } catch (const std::exception&) {
        }
      }
      std::function<void(const Request&)> observer;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(rec);
        observer = observer_;
      }
      cv_.notify_all();
      if (observer) observer(rec);
      Answer a = next(p);
      if (a.delay.count() > 0) std::this_thread::sleep_for(a.delay);
      res.status = a.status;
      for (const auto& [name, value] : a.headers) res.set_header(name, value);
      if (a.drop) {
        // Headers promise a body that never comes: the client sees the connection go.
        const size_t promised = a.body.size() + 64;
        res.set_content_provider(promised, a.contentType, [](size_t, size_t, httplib::DataSink&) { return false; });
        return;
      }
      res.set_content(a.body, a.contentType.c_str());
    });
  }
  // The public-address lookup the phone asks with a GET, and downloads of files (firmware
  // images) under "/files/"; answered from the same scripts, by path.
  http_->Get(R"(/(files/.+)?)", [this](const httplib::Request& req, httplib::Response& res) {
    Request rec;
    rec.method = req.method;
    rec.path = req.path;
    for (const auto& [k, v] : req.headers) rec.headers.emplace_back(k, v);
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(rec);
    }
    cv_.notify_all();
    const Answer a = next(req.path);
    res.status = a.status;
    for (const auto& [name, value] : a.headers) res.set_header(name, value);
    res.set_content(a.body, a.contentType.c_str());
  });
}

Answer MdmServer::next(const std::string& path) {
  std::lock_guard lock(mutex_);
  auto& queue = scripts_[path];
  if (!queue.empty()) {
    Answer a = queue.front();
    queue.erase(queue.begin());
    return a;
  }
  return defaults_[path];
}

bool MdmServer::start(int port) {
  if (!ready_) return false;
  http_->set_keep_alive_max_count(1);
  if (port == 0) {
    port_ = http_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
  } else {
    if (!http_->bind_to_port("127.0.0.1", port)) return false;
    port_ = port;
  }
  thread_ = std::thread([this] { http_->listen_after_bind(); });
  while (!http_->is_running() && thread_.joinable()) std::this_thread::yield();
  return true;
}

bool MdmServer::run(int port) {
  if (!ready_ || !http_->bind_to_port("127.0.0.1", port)) return false;
  port_ = port;
  return http_->listen_after_bind();
}

void MdmServer::stop() {
  if (http_) http_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string MdmServer::origin() const { return "https://127.0.0.1:" + std::to_string(port_); }

void MdmServer::setRequestObserver(std::function<void(const Request&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void MdmServer::setDefault(const std::string& path, Answer answer) {
  std::lock_guard lock(mutex_);
  defaults_[path] = std::move(answer);
}

void MdmServer::script(const std::string& path, Answer answer) {
  std::lock_guard lock(mutex_);
  scripts_[path].push_back(std::move(answer));
}

std::vector<Request> MdmServer::requests(const std::string& path) const {
  std::lock_guard lock(mutex_);
  if (path.empty()) return requests_;
  std::vector<Request> out;
  for (const auto& r : requests_)
    if (r.path == path) out.push_back(r);
  return out;
}

size_t MdmServer::count(const std::string& path) const { return requests(path).size(); }

std::vector<Request> MdmServer::service(const std::string& serviceType) const {
  std::vector<Request> out;
  for (const auto& r : requests(kCheckInPath))
    if (r.json && r.json->is_object() && r.json->value("serviceType", "") == serviceType) out.push_back(r);
  return out;
}

bool MdmServer::waitFor(const std::string& path, size_t n, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, limit, [&] {
    size_t c = 0;
    for (const auto& r : requests_)
      if (path.empty() || r.path == path) ++c;
    return c >= n;
  });
}

void MdmServer::clearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

}  // namespace mdm
