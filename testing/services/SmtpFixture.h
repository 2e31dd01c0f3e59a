#pragma once
// A private SMTP server for tests: Debian's aiosmtpd (python3-aiosmtpd, run by Debian's own
// /usr/bin/python3) on a free loopback port, keeping what it receives in a Maildir under a
// temporary folder, with or without a required login. A test reads the messages back
// through Python's MIME parser: envelope recipients, headers, the body and every
// attachment's bytes. Test code only.

#include <chrono>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "testing/services/ServiceProcess.h"

namespace services {

// How the server protects its connections: not at all, STARTTLS required before anything
// else, or TLS from the start. TLS uses `certificate` and `key` (PEM files).
enum class SmtpTls { None, StartTls, Implicit };

class SmtpFixture {
 public:
  // Starts the server; with a `user`, a login with `password` is required. False, with
  // `error()` saying why, when python3 or aiosmtpd is missing or it does not come up.
  bool start(const std::string& user = {}, const std::string& password = {}, SmtpTls tls = SmtpTls::None,
             const std::string& certificate = {}, const std::string& key = {});
  void stop() { server_.stop(); }
  const std::string& error() const { return error_; }
  int port() const { return port_; }

  // Waits until `count` messages have arrived (at most `limit`); how many there are.
  size_t waitForMessages(size_t count, std::chrono::seconds limit = std::chrono::seconds(30));
  // The messages received, oldest first: [{"envelopeTo": [...], "from", "to", "subject",
  // "messageId", "ascii" (whether every byte as stored is 7-bit), "html", "text",
  // "attachments": [{"fileName", "mimeType", "data" (the bytes)}]}].
  nlohmann::json messages();

 private:
  TempFolder folder_{"smtp-test"};
  ServiceProcess server_;
  int port_ = 0;
  std::string error_;
};

}  // namespace services
