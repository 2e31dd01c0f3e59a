// The agent's day log and its upload to the management server.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/foundation/DateFormat.h"
#include "platform/foundation/UserDefaults.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/VexaIdentifier.h"

namespace kestra::agenttest {
namespace {

std::vector<std::string> dayFiles() {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(VexaInternalLogger::docFolderPath(), ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string readAll(const fs::path& p) { return foundation::readFile(p).value_or(""); }

foundation::WallTime localTime(int y, int m, int d, int hh, int mm) {
  return *foundation::parseDate(std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d) + " " +
                                    std::to_string(hh) + ":" + std::to_string(mm),
                                "yyyy-M-d H:m");
}

class VexaLogTest : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    agent_->setEnableLogging(true);
  }
  void TearDown() override {
    agent_->setEnableLogging(false);
    AgentTest::TearDown();
  }
};

TEST_F(VexaLogTest, TheDayFileIsCreatedAppendedAndRolledAfterMidnight) {
  clock_->setWallTime(localTime(2026, 12, 10, 23, 58));
  VexaLog("first %d", 1);
  VexaLog("second %s", "line");
  ASSERT_EQ(dayFiles(), std::vector<std::string>{"20261210"});
  const std::string day1 = readAll(VexaInternalLogger::docFolderPath() / "20261210");
  EXPECT_NE(day1.find(": first 1\n"), std::string::npos);
  EXPECT_NE(day1.find(": second line\n"), std::string::npos);
  EXPECT_LT(day1.find("first 1"), day1.find("second line"));
  EXPECT_NE(day1.find(" +0000: "), std::string::npos);

  clock_->advance(std::chrono::minutes(3));
  VexaLog("after midnight");
  EXPECT_EQ(dayFiles(), (std::vector<std::string>{"20261210", "20261211"}));
  EXPECT_EQ(readAll(VexaInternalLogger::docFolderPath() / "20261210"), day1);
}

TEST_F(VexaLogTest, DayFilesAreReadableByTheirUserOnlyAlsoAfterAnOlderWideFileAndAnUpload) {
  auto mode = [](const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? unsigned(st.st_mode & 0777) : 0u;
  };
  const fs::path folder = VexaInternalLogger::docFolderPath();
  clock_->setWallTime(localTime(2026, 12, 10, 9, 0));
  VexaLog("a new day");
  EXPECT_EQ(mode(folder / "20261210"), 0600u);
  // A file an older version left readable by everyone is narrowed at the next line.
  std::ofstream(folder / "20261211") << "older line\n";
  fs::permissions(folder / "20261211", fs::perms(0644));
  clock_->setWallTime(localTime(2026, 12, 11, 9, 0));
  VexaLog("the next day");
  EXPECT_EQ(mode(folder / "20261211"), 0600u);
  EXPECT_NE(readAll(folder / "20261211").find("older line\n"), std::string::npos);
  // What is left after an upload took part of the file is rewritten the same way.
  server_->script(mdm::kLogPath, {200, "{}", "application/json", std::chrono::milliseconds(200)});
  VexaInternalLogger::shared().uploadFile("20261211");
  ASSERT_TRUE(server_->waitFor(mdm::kLogPath, 1));
  VexaLog("during the upload");
  ASSERT_TRUE(runMainUntil([&] {
    return readAll(folder / "20261211").find("Log 20261211 uploaded") != std::string::npos;
  }));
  EXPECT_EQ(readAll(folder / "20261211").find("older line"), std::string::npos);
  EXPECT_EQ(mode(folder / "20261211"), 0600u);
}

TEST_F(VexaLogTest, NothingIsWrittenOrSentWhileLoggingIsOff) {
  agent_->setEnableLogging(false);
  VexaLog("quiet");
  VexaInternalLogger::shared().uploadFile("20261210");
  EXPECT_TRUE(dayFiles().empty());
  EXPECT_EQ(server_->count(mdm::kLogPath), 0u);
}

TEST_F(VexaLogTest, AnUnwritableFolderDropsTheLineWithoutLoggingItsOwnFailure) {
  // A file where the folder should be: every write fails, and the failure is not logged
  // through the log again.
  const fs::path folder = VexaInternalLogger::docFolderPath();
  fs::create_directories(folder.parent_path());
  std::ofstream(folder) << "in the way";
  for (int i = 0; i < 3; ++i) VexaLog("line %d", i);
  EXPECT_EQ(readAll(folder), "in the way");
}

TEST_F(VexaLogTest, UploadSendsEachDayFileAsAFormAndRemovesOnlyWhatTheServerTook) {
  clock_->setWallTime(localTime(2026, 12, 9, 12, 0));
  VexaLog("yesterday's line");
  clock_->setWallTime(localTime(2026, 12, 10, 12, 0));
  const fs::path folder = VexaInternalLogger::docFolderPath();
  // A file that is not text is never sent and stays.
  std::ofstream(folder / "20261201", std::ios::binary) << std::string("\xff\xfe\x00\x01", 4);

  server_->script(mdm::kLogPath, {500, R"({"message":"busy"})"});
  server_->script(mdm::kLogPath, {500, R"({"message":"busy"})"});
  VexaInternalLogger::shared().uploadLog();
  // uploadLog itself logged to today's file, so two files went out and both were refused.
  ASSERT_TRUE(server_->waitFor(mdm::kLogPath, 2));
  ASSERT_TRUE(runMainUntil([&] {
    return readAll(folder / "20261210").find("Unable to upload log: 20261209") != std::string::npos;
  }));
  EXPECT_NE(readAll(folder / "20261209").find("yesterday's line"), std::string::npos);

  const auto first = server_->requests(mdm::kLogPath);
  const mdm::Request* yesterday = nullptr;
  for (const auto& r : first)
    if (r.part("file") && r.part("file")->filename->ends_with("20261209")) yesterday = &r;
  ASSERT_NE(yesterday, nullptr);
  ASSERT_TRUE(yesterday->parts.has_value());
  EXPECT_EQ(yesterday->part("serial")->value, VexaIdentifier::getUUID());
  EXPECT_EQ(yesterday->part("bundle")->value, "com.orvo.OrvoMobile");
  EXPECT_EQ(yesterday->part("manufacturer")->value, "Apple");
  EXPECT_EQ(yesterday->part("file")->contentType, "\"text/plain\"");
  EXPECT_EQ(*yesterday->part("file")->filename, (folder / "20261209").string());
  EXPECT_NE(yesterday->part("file")->value.find("yesterday's line"), std::string::npos);
  EXPECT_EQ(yesterday->header("Content-Type").rfind("multipart/form-data; boundary=--Vexa-Boundary-", 0), 0u);

  server_->clearRequests();
  VexaInternalLogger::shared().uploadFile("20261209");
  ASSERT_TRUE(runMainUntil([&] { return !fs::exists(folder / "20261209"); }));
  EXPECT_TRUE(fs::exists(folder / "20261201"));
  EXPECT_EQ(server_->count(mdm::kLogPath), 1u);
}

TEST_F(VexaLogTest, LinesWrittenWhileAnUploadRunsAreKept) {
  clock_->setWallTime(localTime(2026, 12, 10, 9, 0));
  VexaLog("before the upload");
  server_->script(mdm::kLogPath, {200, "{}", "application/json", std::chrono::milliseconds(200)});
  VexaInternalLogger::shared().uploadFile("20261210");
  ASSERT_TRUE(server_->waitFor(mdm::kLogPath, 1));
  VexaLog("during the upload");
  const fs::path file = VexaInternalLogger::docFolderPath() / "20261210";
  ASSERT_TRUE(runMainUntil([&] { return readAll(file).find("Log 20261210 uploaded") != std::string::npos; }));
  const std::string left = readAll(file);
  EXPECT_EQ(left.find("before the upload"), std::string::npos);
  EXPECT_NE(left.find("during the upload"), std::string::npos);
}

TEST_F(VexaLogTest, ClearOldLogsRemovesFilesOfFourDaysOrMore) {
  clock_->setWallTime(localTime(2026, 12, 10, 8, 0));
  const fs::path folder = VexaInternalLogger::docFolderPath();
  fs::create_directories(folder);
  for (const char* name : {"20261208", "20261206", "20261201", "notadate"}) std::ofstream(folder / name) << "x\n";
  VexaInternalLogger::clearOldLogs();
  EXPECT_EQ(dayFiles(), (std::vector<std::string>{"20261208", "notadate"}));
}

}  // namespace
}  // namespace kestra::agenttest
