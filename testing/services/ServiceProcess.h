#pragma once
// A real service program started for a test: run in the foreground with its output in a
// log file, ready once it accepts connections on its loopback port (the port is polled,
// nothing waits a fixed time), stopped with SIGTERM (SIGKILL if it lingers) when the
// fixture ends. Test code only.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace services {

// A loopback TCP port that nothing listens on now.
int freeLoopbackPort();

// A new private folder under the system's temporary folder, removed by the destructor.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class ServiceProcess {
 public:
  ServiceProcess() = default;
  ~ServiceProcess() { stop(); }
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Starts `argv` (argv[0] a full path) with stdout and stderr to `log`, then waits until
  // 127.0.0.1:`port` accepts a connection. False, with `error()` saying why (the program's
  // log included), when it cannot be started, exits, or does not listen within `limit`.
  bool start(const std::vector<std::string>& argv, const std::filesystem::path& log, int port,
             std::chrono::seconds limit = std::chrono::seconds(30));
  void stop();
  bool running() const { return pid_ > 0; }
  const std::string& error() const { return error_; }

 private:
  pid_t pid_ = -1;
  std::string error_;
};

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& text);

}  // namespace services
