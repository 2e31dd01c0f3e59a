#pragma once
// A private CUPS scheduler for tests: Debian's cupsd run in the foreground with its own
// configuration, spool and log folders under a temporary folder, listening on a free
// loopback port. Each queue is a raw queue whose device is a socket to a listener of this
// fixture, so a test reads back exactly the bytes each queue printed, documents and copies
// in the order the scheduler sent them. As root the scheduler runs its jobs as the lp user.
// Test code only.

#include <condition_variable>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testing/services/ServiceProcess.h"

namespace services {

class CupsdFixture {
 public:
  CupsdFixture();
  ~CupsdFixture();

  // Starts the scheduler with `queues` (the first is the default). False, with `error()`
  // saying why, when cupsd is missing or does not come up.
  bool start(const std::vector<std::string>& queues = {"Office"});
  void stop();
  const std::string& error() const { return error_; }
  // "127.0.0.1:<port>", for the print service.
  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }

  // Everything queue `name` has printed so far, in order.
  std::string printed(const std::string& name);
  // Waits until queue `name` has printed `bytes` bytes (at most `limit`); what it printed.
  std::string waitForPrinted(const std::string& name, size_t bytes,
                             std::chrono::seconds limit = std::chrono::seconds(30));
  // The scheduler's log (for failure messages).
  std::string log() const;

 private:
  struct Listener;
  TempFolder folder_{"cupsd-test"};
  ServiceProcess cupsd_;
  int port_ = 0;
  std::string error_;
  std::map<std::string, std::unique_ptr<Listener>> listeners_;
  std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace services
