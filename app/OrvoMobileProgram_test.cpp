// The OrvoMobile program as a user starts it, on Qt's offscreen platform with folders of its
// own: what only a real run shows. The management server of testing/mdm listens on loopback;
// the program reaches it through the agent's origin and authority variables.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sdk/agent/VexaNetworkAction.h"
#include "testing/mdm/MdmServer.h"
#include "testing/services/ServiceProcess.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The program, started with `env` added to the test's environment; stopped (SIGTERM, then
// waited for) when it goes.
class Program {
 public:
  Program(const std::vector<std::string>& env, const fs::path& output) {
    std::vector<std::string> all = env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const auto name = entry.substr(0, entry.find('=') + 1);
      bool replaced = false;
      for (const auto& mine : env) replaced = replaced || mine.rfind(name, 0) == 0;
      if (!replaced) all.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& e : all) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = ORVO_MOBILE_PROGRAM;
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool started() const { return pid_ > 0; }
  // Whether it is still running.
  bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  // Waits for it to end by itself; its exit status, or -1.
  int wait() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

TEST(OrvoMobileProgram, ChecksInWithTheManagementServerOnceItBecomesActive) {
  services::TempFolder folder("orvo-program");  // the test's own, removed with it
  const fs::path& home = folder.path();
  ASSERT_FALSE(home.empty());
  mdm::MdmServer server(home / "mdm");
  ASSERT_TRUE(server.ready());
  ASSERT_TRUE(server.start());
  const fs::path output = home / "program.log";
  Program program({"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / "config").string(),
                   "XDG_DATA_HOME=" + (home / "data").string(), "XDG_CACHE_HOME=" + (home / "cache").string(),
                   "XDG_RUNTIME_DIR=" + (home / "runtime").string(),
                   "KESTRA_KEYCHAIN_FILE=" + (home / "keychain.json").string(), "QT_QPA_PLATFORM=offscreen",
                   "KESTRA_MDM_ORIGIN=" + server.origin(), "KESTRA_MDM_CA_FILE=" + server.certificates().caCert.string()},
                  output);
  ASSERT_TRUE(program.started());
  // Nobody posts anything for it: the program's own application object makes the agent
  // check in (a few seconds after it became active).
  ASSERT_TRUE(server.waitFor(kestra::kVexaCheckInPath, 1, 90s)) << "program running: " << program.running();
  const auto checkIn = server.requests(kestra::kVexaCheckInPath).front();
  EXPECT_EQ(checkIn.method, "POST");
  EXPECT_TRUE(program.running());
}

// The network and printing libraries (libcurl, libcups and the TLS, Kerberos, LDAP and Avahi
// libraries they bring) are opened when first used, never on the way to the first frame.
TEST(OrvoMobileProgram, OpensNoNetworkOrPrintingLibraryBeforeItsFirstFrame) {
  services::TempFolder folder("orvo-program");  // the test's own, removed with it
  const fs::path& home = folder.path();
  ASSERT_FALSE(home.empty());
  const fs::path output = home / "program.log";
  Program program({"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / "config").string(),
                   "XDG_DATA_HOME=" + (home / "data").string(), "XDG_CACHE_HOME=" + (home / "cache").string(),
                   "XDG_RUNTIME_DIR=" + (home / "runtime").string(),
                   "KESTRA_KEYCHAIN_FILE=" + (home / "keychain.json").string(), "QT_QPA_PLATFORM=offscreen",
                   "KESTRA_FIRST_FRAME_EXIT=1", "LD_DEBUG=files"},
                  output);
  ASSERT_TRUE(program.started());
  EXPECT_EQ(program.wait(), 0);
  std::ifstream in(output);
  std::stringstream text;
  text << in.rdbuf();
  const std::string log = text.str();
  const auto frame = log.find("first-frame\n");
  ASSERT_NE(frame, std::string::npos) << log.substr(0, 4000);
  const std::string before = log.substr(0, frame);
  // The loader names each object it maps ("file=libcurl.so.4 [0];  needed by ...").
  ASSERT_NE(before.find("file=libQt6Core"), std::string::npos) << "the loader's trace is missing";
  for (const char* library : {"file=libcurl", "file=libcups", "file=libgnutls", "file=libldap", "file=libkrb5"})
    EXPECT_EQ(before.find(library), std::string::npos) << library << " is loaded before the first frame";
}

}  // namespace
