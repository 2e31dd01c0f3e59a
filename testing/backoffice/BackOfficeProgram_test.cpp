// The back-office server as a program: port and data folder from the command line.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "testing/net/HttpTestServers.h"
#include "testing/backoffice/Operations.h"

namespace backoffice {
namespace {

pid_t spawn(std::vector<std::string> args) {
  pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(BACKOFFICE_PROGRAM));
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execv(BACKOFFICE_PROGRAM, argv.data());
    ::_exit(127);
  }
  return pid;
}

int exitCode(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BackOfficeProgramTest, ServesTheDataFolderOnTheGivenPort) {
  // A data folder of its own: one warehouse.
  auto dir = std::filesystem::temp_directory_path() / ("backoffice-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "warehouses.json") << R"([{"Code":"ZZ9","Descript":"Test","Name":"T","Addr1":"A"}])";
  const int port = net::testing::freePort();
  pid_t pid = spawn({"--port", std::to_string(port), "--data", dir.string()});
  ASSERT_GT(pid, 0);

  httplib::Client client("127.0.0.1", port);
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
      "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
      "<GetWarehouse xmlns=\"http://tempuri.org/\">\n</GetWarehouse></soap:Body></soap:Envelope>";
  int status = 0;
  std::string answer;
  // The program needs a moment to start listening.
  for (int i = 0; i < 300 && status == 0; ++i) {
    if (auto res = client.Post(kMobilePath, {{"SOAPAction", "http://tempuri.org/GetWarehouse"}}, body,
                               "text/xml; charset=utf-8")) {
      status = res->status;
      answer = res->body;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  EXPECT_EQ(status, 200);
  EXPECT_NE(answer.find("ZZ9"), std::string::npos);
  auto image = client.Get("/styleimages/TS100_BLK_front.jpg");
  EXPECT_TRUE(image);
  if (image) {
    EXPECT_EQ(image->status, 404);  // not in this folder
  }

  ::kill(pid, SIGTERM);
  EXPECT_EQ(exitCode(pid), 0);
  std::filesystem::remove_all(dir);
}

TEST(BackOfficeProgramTest, RefusesBadArgumentsAndBadData) {
  EXPECT_EQ(exitCode(spawn({})), 2);
  EXPECT_EQ(exitCode(spawn({"--port", "x"})), 2);
  EXPECT_EQ(exitCode(spawn({"--port"})), 2);
  auto dir = std::filesystem::temp_directory_path() / ("backoffice-bad-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "styles.json") << "[{";
  EXPECT_EQ(exitCode(spawn({"--port", std::to_string(net::testing::freePort()), "--data", dir.string()})), 1);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace backoffice
