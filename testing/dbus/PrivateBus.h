#pragma once
// A private message bus and child processes for tests that talk to a mock system service
// (python3-dbusmock) over D-Bus. Header-only: each test executable that needs it includes it.

#include <dbus/dbus.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testing_dbus {

using namespace std::chrono_literals;

inline constexpr const char* kPython = "/usr/bin/python3";

// A child process, ended (SIGTERM, then reaped) when this goes.
class Child {
 public:
  Child(std::vector<std::string> argv, std::vector<std::string> extraEnv = {}, int stdoutFd = -1) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (auto& e : extraEnv) env.push_back(e);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

// A private message bus; `address()` is where it listens.
class PrivateBus {
 public:
  PrivateBus() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    daemon_ = std::make_unique<Child>(
        std::vector<std::string>{"/usr/bin/dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf", "--nofork",
                                 "--print-address"},
        std::vector<std::string>{}, fds[1]);
    ::close(fds[1]);
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') address_ += c;  // blocks until the bus is up
    ::close(fds[0]);
  }
  const std::string& address() const { return address_; }

  // Runs until `name` has an owner on the bus (at most 20 s).
  bool waitForName(const std::string& name) const {
    DBusError err;
    dbus_error_init(&err);
    DBusConnection* c = dbus_connection_open_private(address_.c_str(), &err);
    if (!c || !dbus_bus_register(c, &err)) return false;
    bool owned = false;
    for (auto until = std::chrono::steady_clock::now() + 20s; !owned && std::chrono::steady_clock::now() < until;) {
      owned = dbus_bus_name_has_owner(c, name.c_str(), &err);
      if (!owned) std::this_thread::sleep_for(5ms);
    }
    dbus_connection_close(c);
    dbus_connection_unref(c);
    return owned;
  }

  // Calls `method` (interface and name) of `path` at `dest` with dbus-send arguments.
  bool call(const std::string& dest, const std::string& path, const std::string& method,
            const std::string& args) const {
    const std::string command = "/usr/bin/dbus-send --bus='" + address_ + "' --print-reply=literal --dest=" + dest +
                                " " + path + " " + method + " " + args + " >/dev/null";
    return std::system(command.c_str()) == 0;
  }

 private:
  std::unique_ptr<Child> daemon_;
  std::string address_;
};

}  // namespace testing_dbus
