#include "testing/services/SmtpFixture.h"

#include <poll.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace services {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

// The server: aiosmtpd's controller with its Mailbox (Maildir) handler, until SIGTERM.
constexpr const char* kServerScript = R"PY(
import signal, ssl, sys
from aiosmtpd.controller import Controller
from aiosmtpd.handlers import Mailbox
from aiosmtpd.smtp import AuthResult, LoginPassword

port, maildir, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
tls, certificate, key = sys.argv[5], sys.argv[6], sys.argv[7]

def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == user
          and auth_data.password.decode() == password)
    return AuthResult(success=ok)

options = {}
if user:
    options = dict(authenticator=authenticator, auth_require_tls=tls == "starttls", auth_required=True)
if tls != "none":
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(certificate, key)
    if tls == "starttls":
        options.update(tls_context=context, require_starttls=True)
    else:
        options.update(ssl_context=context)
signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM, signal.SIGINT})
controller = Controller(Mailbox(maildir), hostname="127.0.0.1", port=port, **options)
controller.start()
print("listening", flush=True)
signal.sigwait({signal.SIGTERM, signal.SIGINT})
controller.stop()
)PY";

// Reads every message of the Maildir with Python's MIME parser and prints them as JSON.
constexpr const char* kReadScript = R"PY(
import base64, email, email.policy, json, os, sys
folder = os.path.join(sys.argv[1], "new")
names = sorted(os.listdir(folder), key=lambda n: (os.stat(os.path.join(folder, n)).st_mtime_ns, n))
out = []
for name in names:
    with open(os.path.join(folder, name), "rb") as f:
        raw = f.read()
    m = email.message_from_bytes(raw, policy=email.policy.default)
    item = {"envelopeTo": [a.strip() for a in str(m.get("X-RcptTo", "")).split(",") if a.strip()],
            "from": str(m.get("From", "")), "to": str(m.get("To", "")),
            "subject": str(m.get("Subject", "")), "messageId": str(m.get("Message-ID", "")),
            "ascii": all(b < 128 for b in raw), "html": "", "text": "", "attachments": []}
    for part in m.walk():
        if part.is_multipart():
            continue
        if part.get_content_disposition() == "attachment" or part.get_filename():
            item["attachments"].append({"fileName": part.get_filename() or "",
                                        "mimeType": part.get_content_type(),
                                        "data": base64.b64encode(part.get_payload(decode=True) or b"").decode()})
        elif part.get_content_type() == "text/html":
            item["html"] += part.get_content()
        elif part.get_content_type() == "text/plain":
            item["text"] += part.get_content()
    out.append(item)
print(json.dumps(out))
)PY";

std::string decodeBase64(const std::string& in) {
  static const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  int value = 0, bits = -8;
  for (char c : in) {
    const auto at = chars.find(c);
    if (at == std::string::npos) continue;
    value = (value << 6) + static_cast<int>(at);
    bits += 6;
    if (bits >= 0) {
      out.push_back(static_cast<char>((value >> bits) & 0xFF));
      bits -= 8;
    }
  }
  return out;
}

}  // namespace

bool SmtpFixture::start(const std::string& user, const std::string& password, SmtpTls tls,
                        const std::string& certificate, const std::string& key) {
  const auto root = folder_.path();
  if (root.empty()) {
    error_ = "no temporary folder for the SMTP server";
    return false;
  }
  // The handler makes the Maildir (with its tmp, new and cur folders) itself.
  writeFile(root / "server.py", kServerScript);
  writeFile(root / "read.py", kReadScript);
  port_ = freeLoopbackPort();
  const char* mode = tls == SmtpTls::StartTls ? "starttls" : tls == SmtpTls::Implicit ? "tls" : "none";
  if (!server_.start({kPython, (root / "server.py").string(), std::to_string(port_), (root / "mail").string(), user,
                      password, mode, certificate, key},
                     root / "server.log", port_)) {
    error_ = server_.error();
    if (error_.find("No module named 'aiosmtpd'") != std::string::npos)
      error_ += "\npython3-aiosmtpd is not installed (scripts/install-deps installs it)";
    return false;
  }
  return true;
}

size_t SmtpFixture::waitForMessages(size_t count, std::chrono::seconds limit) {
  const auto folder = folder_.path() / "mail" / "new";
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
      ++n;
    if (n >= count || std::chrono::steady_clock::now() > deadline) return n;
    // Waits for the server to deliver (a short poll of the Maildir).
    ::poll(nullptr, 0, 20);
  }
}

nlohmann::json SmtpFixture::messages() {
  const std::string command =
      std::string(kPython) + " " + (folder_.path() / "read.py").string() + " " + (folder_.path() / "mail").string();
  std::string output;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) output.append(buffer, n);
    ::pclose(p);
  }
  auto list = nlohmann::json::parse(output, nullptr, false);
  if (!list.is_array()) return nlohmann::json::array();
  for (auto& m : list)
    for (auto& a : m["attachments"]) a["data"] = decodeBase64(a["data"].get<std::string>());
  return list;
}

}  // namespace services
