#include "platform/foundation/UserDefaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "platform/foundation/FirstFrame.h"
#include "platform/foundation/RunLoop.h"

using namespace foundation;
namespace fs = std::filesystem;

namespace {
struct TempDir {
  fs::path path;
  TempDir() {
    char tmpl[] = "/tmp/orvo-defaults-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
};
}  // namespace

TEST(UserDefaults, ValuesWrittenByOneInstanceAreReadByANewOne) {
  TempDir dir;
  fs::path file = dir.path / "defaults.json";
  auto when = std::chrono::system_clock::from_time_t(1700000000) + std::chrono::milliseconds(250);
  {
    UserDefaults d(file);
    d.setString("serverIP", "192.168.1.20");
    d.setBool("timeOutYN", true);
    d.setInteger("timeOutMin", 15);
    d.setDouble("rate", 2.5);
    d.setObject("list", nlohmann::json::array({"a", "b"}));
    d.setObject("dict", {{"k", 1}});
    d.setDate("lastCheckIn", when);
    d.setObject("expires", "9999-12-31T23:59:59.999Z");  // a server's "no date"
    d.setString("gone", "x");
    d.setObject("gone", nullptr);  // setting nothing removes
  }
  UserDefaults d(file);
  EXPECT_EQ(d.stringForKey("serverIP"), "192.168.1.20");
  EXPECT_TRUE(d.boolForKey("timeOutYN"));
  EXPECT_EQ(d.integerForKey("timeOutMin"), 15);
  EXPECT_DOUBLE_EQ(d.doubleForKey("rate"), 2.5);
  EXPECT_EQ(*d.arrayForKey("list"), nlohmann::json::array({"a", "b"}));
  EXPECT_EQ((*d.dictionaryForKey("dict"))["k"], 1);
  EXPECT_EQ(d.dateForKey("lastCheckIn"), when);
  // Beyond what the clock holds: no date, and the text is kept as it was.
  EXPECT_FALSE(d.dateForKey("expires"));
  EXPECT_EQ(d.stringForKey("expires"), "9999-12-31T23:59:59.999Z");
  EXPECT_FALSE(d.stringForKey("gone"));
  EXPECT_TRUE(d.objectForKey("gone").is_null());
}

TEST(UserDefaults, ConvertsBetweenTextNumbersAndBooleans) {
  TempDir dir;
  UserDefaults d(dir.path / "d.json");
  d.setString("minutes", "12");
  d.setString("yes", "YES");
  d.setString("no", "NO");
  d.setInteger("port", 8080);
  d.setBool("flag", true);
  EXPECT_EQ(d.integerForKey("minutes"), 12);
  EXPECT_TRUE(d.boolForKey("yes"));
  EXPECT_FALSE(d.boolForKey("no"));
  EXPECT_EQ(d.stringForKey("port"), "8080");
  EXPECT_EQ(d.stringForKey("flag"), "1");
  EXPECT_EQ(d.integerForKey("absent"), 0);
  EXPECT_FALSE(d.boolForKey("absent"));
  EXPECT_FALSE(d.arrayForKey("minutes"));
}

TEST(UserDefaults, InterruptedWriteLeavesThePreviousFileIntact) {
  TempDir dir;
  fs::path file = dir.path / "defaults.json";
  { UserDefaults(file).setString("serverIP", "10.0.0.1"); }
  // A writer that died before its rename leaves only a partial temporary file behind.
  { std::ofstream(file.string() + ".tmp-999-0") << "{\"serverIP\": \"10.0"; }
  UserDefaults d(file);
  EXPECT_EQ(d.stringForKey("serverIP"), "10.0.0.1");
}

TEST(UserDefaults, UnreadableFileIsMovedAsideNotOverwritten) {
  TempDir dir;
  fs::path file = dir.path / "defaults.json";
  { std::ofstream(file) << "{ not json"; }
  UserDefaults d(file);
  EXPECT_FALSE(d.stringForKey("serverIP"));
  EXPECT_TRUE(fs::exists(file.string() + ".corrupt"));
  d.setString("serverIP", "1.2.3.4");
  EXPECT_EQ(UserDefaults(file).stringForKey("serverIP"), "1.2.3.4");
}

TEST(UserDefaults, AFileNestedTooDeeplyIsSetAsideAndNothingDeepIsStored) {
  TempDir dir;
  fs::path file = dir.path / "defaults.json";
  constexpr int kDepth = 100'000;
  const std::string deep = "{\"a\":" + std::string(kDepth, '[') + std::string(kDepth, ']') + "}";
  { std::ofstream(file) << deep; }
  UserDefaults d(file);
  EXPECT_TRUE(d.dictionaryRepresentation().empty());
  EXPECT_EQ(fs::file_size(file.string() + ".corrupt"), deep.size());

  nlohmann::json nested = nlohmann::json::array();
  for (size_t i = 1; i < UserDefaults::kMaxDepth; ++i) nested = nlohmann::json::array({nested});
  d.setObject("deep", nested);
  EXPECT_TRUE(d.objectForKey("deep").is_null());
  d.setObject("deep", nested[0]);  // one level less fits
  EXPECT_EQ(UserDefaults(file).objectForKey("deep"), nested[0]);
}

TEST(UserDefaults, ASecondUnreadableFileDoesNotReplaceTheFirstSetAside) {
  TempDir dir;
  fs::path file = dir.path / "defaults.json";
  { std::ofstream(file) << "{ first"; }
  { UserDefaults d(file); }
  { std::ofstream(file) << "{ second"; }
  { UserDefaults d(file); }
  auto read = [](const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(read(file.string() + ".corrupt"), "{ first");
  EXPECT_EQ(read(file.string() + ".corrupt-2"), "{ second");
}

TEST(UserDefaults, SeveralKeysGoInOneWriteAndSynchronizeWritesOnlyWhatTheFileLacks) {
  TempDir dir;
  fs::path file = dir.path / "defaults.json";
  auto inode = [&] {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_ino : ino_t(0);
  };
  {
    UserDefaults d(file);
    d.synchronize();  // nothing written yet: the file is made
    ASSERT_NE(inode(), ino_t(0));
    d.setString("gone", "x");
    const auto afterSet = inode();
    d.setObjects({{"checkInEnabled", true}, {"serverIP", "10.0.0.1"}, {"gone", nullptr}});
    const auto afterBatch = inode();
    EXPECT_NE(afterBatch, afterSet);  // every write replaces the file (temporary file, rename)
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(inode(), afterBatch) << "synchronize rewrote a file that already held every change";
  }
  UserDefaults d(file);
  EXPECT_TRUE(d.boolForKey("checkInEnabled"));
  EXPECT_EQ(d.stringForKey("serverIP"), "10.0.0.1");
  EXPECT_TRUE(d.objectForKey("gone").is_null());
  // A file read at start is not written again by synchronize either.
  const auto read = inode();
  EXPECT_TRUE(d.synchronize());
  EXPECT_EQ(inode(), read);
}

TEST(UserDefaults, SynchronizeWritesAfterAnUnreadableFileWasSetAside) {
  TempDir dir;
  fs::path file = dir.path / "defaults.json";
  { std::ofstream(file) << "{ broken"; }
  UserDefaults d(file);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(d.synchronize());
  EXPECT_EQ(UserDefaults(file).dictionaryRepresentation(), nlohmann::json::object());
}

// A launch sets several keys before its window's first frame: they go to the file in one
// write once the frame is painted, and nothing set meanwhile is lost.
TEST(UserDefaults, TheStandardFilesChangesBeforeTheFirstFrameGoInOneWriteAfterIt) {
  TempDir dir;
  const char* before = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = before ? before : "";
  ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
  UserDefaults::resetStandard();
  auto& defaults = UserDefaults::standard();
  const fs::path file = defaults.file();
  RunLoop::main();

  FirstFrame::hold();
  defaults.setObjects({{"checkInEnabled", true}, {"locationEnabled", true}});
  defaults.setString("serverIP", "10.0.0.1");
  EXPECT_TRUE(defaults.synchronize());
  defaults.setObject("locationEnabled", false);
  EXPECT_FALSE(fs::exists(file)) << "written on the way to the first frame";
  EXPECT_EQ(defaults.stringForKey("serverIP"), "10.0.0.1") << "the instance reads its own changes at once";

  FirstFrame::painted();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return fs::exists(file); }, std::chrono::seconds(30)));
  UserDefaults reread(file);
  EXPECT_TRUE(reread.boolForKey("checkInEnabled"));
  EXPECT_FALSE(reread.boolForKey("locationEnabled"));
  EXPECT_EQ(reread.stringForKey("serverIP"), "10.0.0.1");
  // After the frame every change is written through again.
  defaults.setString("serverIP", "10.0.0.2");
  EXPECT_EQ(UserDefaults(file).stringForKey("serverIP"), "10.0.0.2");

  if (before)
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
  UserDefaults::resetStandard();
}
