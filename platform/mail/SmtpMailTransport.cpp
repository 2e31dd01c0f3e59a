#include "platform/mail/SmtpMailTransport.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "platform/foundation/MainQueue.h"
#include "platform/net/CurlLibrary.h"

namespace mail {
namespace {

using foundation::Error;

// libcurl's entry points; `sendNow` checks that the library opened before it uses any.
const net::CurlLibrary& lib() { return *net::CurlLibrary::get(); }

struct CurlDeleter {
  void operator()(CURL* c) const { lib().easy_cleanup(c); }
};
struct MimeDeleter {
  void operator()(curl_mime* m) const { lib().mime_free(m); }
};
struct ListDeleter {
  void operator()(curl_slist* l) const { lib().slist_free_all(l); }
};
using List = std::unique_ptr<curl_slist, ListDeleter>;

void append(List& list, const std::string& text) { list.reset(lib().slist_append(list.release(), text.c_str())); }

std::string oneLine(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

std::string addressList(const std::vector<std::string>& addresses) {
  std::string out;
  for (const auto& a : addresses) {
    const std::string clean = oneLine(a);
    if (clean.empty()) continue;
    out += (out.empty() ? "" : ", ") + clean;
  }
  return out;
}

std::string dateHeader() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char b[64];
  std::strftime(b, sizeof b, "%a, %d %b %Y %H:%M:%S +0000", &tm);
  return b;
}

// A message id unique to this message: random bytes at the sender's domain.
std::string messageId(const std::string& from) {
  unsigned char random[16];
  if (RAND_bytes(random, sizeof random) != 1) return {};
  std::string id;
  char hex[3];
  for (unsigned char b : random) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    id += hex;
  }
  std::string domain = from.substr(from.rfind('@') == std::string::npos ? from.size() : from.rfind('@') + 1);
  std::string clean;
  for (char c : domain)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') clean += c;
  return "<" + id + "@" + (clean.empty() ? std::string("localhost") : clean) + ">";
}

std::optional<Error> sendNow(const MailAccount& account, const ui::MailMessage& message) {
  std::vector<std::string> recipients;
  for (const auto* list : {&message.toRecipients, &message.ccRecipients, &message.bccRecipients})
    for (const auto& r : *list)
      if (auto clean = oneLine(r); !clean.empty()) recipients.push_back(clean);
  if (recipients.empty()) return Error(kSmtpErrorDomain, 1, "The message has no recipient");
  if (account.from.empty()) return Error(kSmtpErrorDomain, 2, "The mail account has no sender address");

  std::string unavailable;
  if (!net::CurlLibrary::get(&unavailable))
    return Error(kSmtpErrorDomain, 3, "Mail cannot be sent now: " + unavailable);
  std::unique_ptr<CURL, CurlDeleter> curl(lib().easy_init());
  if (!curl) return Error(kSmtpErrorDomain, 3, "Mail cannot be sent now");
  CURL* c = curl.get();
  const std::string url = account.url();
  lib().easy_setopt(c, CURLOPT_URL, url.c_str());
  lib().easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  lib().easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(kSmtpConnectTimeout.count()));
  lib().easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(kSmtpSendTimeout.count()));
  lib().easy_setopt(c, CURLOPT_USE_SSL,
                   account.security == MailSecurity::None ? static_cast<long>(CURLUSESSL_NONE)
                                                          : static_cast<long>(CURLUSESSL_ALL));
  if (!account.caFile.empty()) lib().easy_setopt(c, CURLOPT_CAINFO, account.caFile.c_str());
  if (!account.user.empty()) {
    lib().easy_setopt(c, CURLOPT_USERNAME, account.user.c_str());
    lib().easy_setopt(c, CURLOPT_PASSWORD, account.password.c_str());
  }
  const std::string from = "<" + oneLine(account.from) + ">";
  lib().easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
  List rcpt;
  for (const auto& r : recipients) append(rcpt, "<" + r + ">");
  lib().easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());

  List headers;
  append(headers, "Date: " + dateHeader());
  append(headers, "From: " + oneLine(account.from));
  if (auto to = addressList(message.toRecipients); !to.empty()) append(headers, "To: " + to);
  if (auto cc = addressList(message.ccRecipients); !cc.empty()) append(headers, "Cc: " + cc);
  append(headers, "Subject: " + headerValue(message.subject));
  if (auto id = messageId(oneLine(account.from)); !id.empty()) append(headers, "Message-ID: " + id);
  append(headers, "MIME-Version: 1.0");
  lib().easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());

  std::unique_ptr<curl_mime, MimeDeleter> mime(lib().mime_init(c));
  curl_mimepart* body = lib().mime_addpart(mime.get());
  lib().mime_data(body, message.body.data(), message.body.size());
  lib().mime_type(body, message.bodyIsHTML ? "text/html; charset=utf-8" : "text/plain; charset=utf-8");
  lib().mime_encoder(body, "quoted-printable");
  for (const auto& a : message.attachments) {
    curl_mimepart* part = lib().mime_addpart(mime.get());
    lib().mime_data(part, reinterpret_cast<const char*>(a.data.data()), a.data.size());
    lib().mime_type(part, a.mimeType.empty() ? "application/octet-stream" : oneLine(a.mimeType).c_str());
    // The file name in a Content-Disposition of our own, so a name that is not ASCII goes
    // out encoded (RFC 2231) and never as raw 8-bit header bytes.
    List partHeaders;
    append(partHeaders, "Content-Disposition: " + attachmentDisposition(a.fileName));
    lib().mime_headers(part, partHeaders.release(), 1);
    lib().mime_encoder(part, "base64");
  }
  lib().easy_setopt(c, CURLOPT_MIMEPOST, mime.get());

  char detail[CURL_ERROR_SIZE] = {0};
  lib().easy_setopt(c, CURLOPT_ERRORBUFFER, detail);
  const CURLcode rc = lib().easy_perform(c);
  if (rc == CURLE_OK) return std::nullopt;
  std::string text = detail[0] ? detail : lib().easy_strerror(rc);
  long code = 0;
  lib().easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
  if (code) text += " (server answered " + std::to_string(code) + ")";
  return Error(kSmtpErrorDomain, static_cast<int>(rc), text);
}

}  // namespace

std::string headerValue(const std::string& text) {
  const std::string clean = oneLine(text);
  bool ascii = true;
  for (unsigned char ch : clean) ascii = ascii && ch < 0x80;
  if (ascii) return clean;
  std::vector<unsigned char> out(4 * ((clean.size() + 2) / 3) + 1);
  const int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()),
                                static_cast<int>(clean.size()));
  return "=?UTF-8?B?" + std::string(out.begin(), out.begin() + n) + "?=";
}

std::string attachmentDisposition(const std::string& fileName) {
  const std::string clean = oneLine(fileName);
  if (clean.empty()) return "attachment";
  bool plain = true;
  for (unsigned char ch : clean) plain = plain && ch >= 0x20 && ch < 0x7f;
  if (plain) {
    std::string quoted;
    for (char c : clean) {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
    return "attachment; filename=\"" + quoted + "\"";
  }
  // RFC 2231: charset, empty language, then every byte outside the attribute characters
  // as %XX.
  static const char* const kHex = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char ch : clean) {
    if (std::isalnum(ch) || (ch != 0 && std::strchr("!#$&+-.^_`|~", ch))) {
      encoded += static_cast<char>(ch);
    } else {
      encoded += '%';
      encoded += kHex[ch >> 4];
      encoded += kHex[ch & 0x0F];
    }
  }
  return "attachment; filename*=UTF-8''" + encoded;
}

SmtpMailTransport::SmtpMailTransport(AccountSource account) : account_(std::move(account)) {}

bool SmtpMailTransport::canSend() {
  auto a = account_ ? account_() : std::nullopt;
  return a && !a->server.empty();
}

void SmtpMailTransport::send(const ui::MailMessage& message, std::function<void(std::optional<foundation::Error>)> done) {
  auto account = account_ ? account_() : std::nullopt;
  std::thread([account = std::move(account), message, done = std::move(done)]() mutable {
    std::optional<Error> error = account && !account->server.empty()
                                     ? sendNow(*account, message)
                                     : Error(kSmtpErrorDomain, 4, "No mail account is set up to send from");
    foundation::MainQueue::post([done = std::move(done), error = std::move(error)] {
      if (done) done(error);
    });
  }).detach();
}

std::optional<foundation::Error> SmtpMailTransport::saveDraft(const ui::MailMessage&) {
  return Error(kSmtpErrorDomain, 5, "Drafts are not kept on this device");
}

}  // namespace mail
