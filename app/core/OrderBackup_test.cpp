// The backup of the unfinished order: what comes back after a restart, after a crash in
// the middle of a snapshot or of a journal record, and from a backup an earlier version
// left in the user defaults.
#include "app/core/OrderBackup.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/core/UserDefaultsKeys.h"
#include "platform/foundation/UserDefaults.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

json line(int n) {
  return json{{"Barcode", "4000" + std::to_string(n)}, {"Style", "S" + std::to_string(n % 7)},
              {"Qty", std::to_string(n % 5 + 1)}, {"Descript", std::string(200, 'd')}};
}

class OrderBackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orvo-backup-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
  }
  void TearDown() override {
    OrderBackup::setSnapshotHookForTesting(nullptr);
    fs::remove_all(dir_);
  }
  fs::path store() const { return dir_ / "OrderBackup"; }
  fs::path dir_;
};

TEST_F(OrderBackupTest, EveryChangeComesBackAfterARestart) {
  {
    OrderBackup b(store());
    EXPECT_TRUE(b.values().empty());
    EXPECT_FALSE(b.hasLines());
    auto token = b.attach(json::array({line(1), line(2), line(3)}));
    b.insertLine(token, 1, line(10));  // 1 10 2 3
    b.replaceLine(token, 3, line(30));  // 1 10 2 30
    b.eraseLine(token, 0);               // 10 2 30
    b.insertLine(token, 3, line(40));    // 10 2 30 40
    b.update({{defaults::backupCustomerId, "C1"}, {defaults::backupOrderNumber, "SO7"},
              {defaults::backupDateTime, "2026-01-02T03:04:05Z"}});
    b.update({{defaults::backupOrderNumber, nullptr}});
    // A change past the end of the cart is no change.
    b.replaceLine(token, 9, line(99));
    b.eraseLine(token, 9);
  }
  OrderBackup again(store());
  const json expected{{defaults::backupOrderListArray, json::array({line(10), line(2), line(30), line(40)})},
                      {defaults::backupCustomerId, "C1"},
                      {defaults::backupDateTime, "2026-01-02T03:04:05Z"}};
  EXPECT_EQ(again.values(), expected);
  EXPECT_TRUE(again.hasLines());
  EXPECT_TRUE(again.savedAt().has_value());
  // The same after the journal is folded into a snapshot.
  again.flush();
  EXPECT_TRUE(fs::exists(store() / "backup.json"));
  EXPECT_EQ(OrderBackup(store()).values(), expected);
}

TEST_F(OrderBackupTest, ClearingEndsTheAttachmentSoLaterLineChangesAreIgnored) {
  OrderBackup b(store());
  auto token = b.attach(json::array({line(1)}));
  EXPECT_TRUE(b.attached(token));
  b.remove({defaults::backupOrderListArray});
  EXPECT_FALSE(b.attached(token));
  EXPECT_FALSE(b.hasLines());
  b.insertLine(token, 0, line(2));
  EXPECT_TRUE(b.values().empty());
  auto next = b.attach(json::array());
  EXPECT_NE(next, token);
  b.insertLine(next, 0, line(3));
  EXPECT_EQ(b.values(), json({{defaults::backupOrderListArray, json::array({line(3)})}}));
}

// A large order is folded into snapshots as its journal grows, so the files stay in
// proportion to the order and not to the number of changes.
TEST_F(OrderBackupTest, JournalIsFoldedIntoTheSnapshotAsItGrows) {
  OrderBackup b(store());
  json lines = json::array();
  for (int i = 0; i < 1000; ++i) lines.push_back(line(i));
  auto token = b.attach(lines);
  for (int i = 0; i < 3000; ++i) {
    json l = line(i % 1000);
    l["Qty"] = std::to_string(i);
    b.replaceLine(token, size_t(i % 1000), l);
    lines[size_t(i % 1000)] = l;
  }
  b.flush();
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::directory_iterator(store())) bytes += fs::file_size(e.path());
  const std::uintmax_t orderSize = json(lines).dump().size();
  EXPECT_LT(bytes, 2 * orderSize + 512 * 1024);
  EXPECT_EQ(OrderBackup(store()).values()[defaults::backupOrderListArray], lines);
}

// The process dies while the writer is half-way through a snapshot: the journals are still
// whole, so the last complete order comes back, every change included.
TEST_F(OrderBackupTest, WriterKilledHalfWayThroughASnapshotLosesNothing) {
  json lines = json::array();
  for (int i = 0; i < 3000; ++i) lines.push_back(line(i));
  json expected = lines;
  expected.erase(expected.begin());
  expected[10] = line(7777);
  expected.push_back(line(8888));

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    OrderBackup b(store());
    auto token = b.attach(lines);
    b.flush();  // a complete snapshot of the first cart
    b.eraseLine(token, 0);
    b.replaceLine(token, 10, line(7777));
    b.insertLine(token, expected.size() - 1, line(8888));
    OrderBackup::setSnapshotHookForTesting([](std::size_t written, std::size_t total) {
      if (written * 2 >= total) ::raise(SIGKILL);
    });
    b.flush();
    ::_exit(0);  // not reached: the writer died half-way
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_TRUE(fs::exists(store() / "backup.json.tmp"));  // the cut-short snapshot

  OrderBackup after(store());
  EXPECT_EQ(after.values()[defaults::backupOrderListArray], expected);
  // And the store goes on from there.
  after.update({{defaults::backupStoreId, "ST1"}});
  after.flush();
  EXPECT_EQ(OrderBackup(store()).values()[defaults::backupStoreId], "ST1");
}

// The process dies right after a change, before any snapshot: the change is there.
TEST_F(OrderBackupTest, ProcessKilledRightAfterAChangeKeepsIt) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    OrderBackup b(store());
    auto token = b.attach(json::array({line(1)}));
    b.insertLine(token, 1, line(2));
    ::raise(SIGKILL);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(OrderBackup(store()).values()[defaults::backupOrderListArray], json::array({line(1), line(2)}));
}

TEST_F(OrderBackupTest, RecordCutShortIsDroppedAndLaterChangesStillCount) {
  {
    OrderBackup b(store());
    auto token = b.attach(json::array({line(1)}));
    b.insertLine(token, 1, line(2));
  }
  // A crash in the middle of the next record.
  fs::path journal;
  for (const auto& e : fs::directory_iterator(store()))
    if (e.path().extension() == ".jsonl") journal = e.path();
  ASSERT_FALSE(journal.empty());
  std::ofstream(journal, std::ios::app) << R"({"s":3,"op":"insert","at":2,"v":{"Barc)";
  {
    OrderBackup b(store());
    EXPECT_EQ(b.values()[defaults::backupOrderListArray], json::array({line(1), line(2)}));
    b.update({{defaults::backupCustomerId, "C9"}});
  }
  json values = OrderBackup(store()).values();
  EXPECT_EQ(values[defaults::backupOrderListArray], json::array({line(1), line(2)}));
  EXPECT_EQ(values[defaults::backupCustomerId], "C9");
}

TEST_F(OrderBackupTest, UnreadableSnapshotIsSetAsideNotOverwritten) {
  fs::create_directories(store());
  std::ofstream(store() / "backup.json") << "{\"sequence\": 3, \"values\": [";
  OrderBackup b(store());
  EXPECT_TRUE(b.values().empty());
  EXPECT_TRUE(fs::exists(store() / "backup.json.corrupt"));
}

// A backup an earlier version kept in the user defaults is offered and loaded from this
// store, and leaves the user defaults.
TEST_F(OrderBackupTest, BackupLeftInTheUserDefaultsIsTakenOver) {
  ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
  foundation::UserDefaults::resetStandard();
  auto& d = foundation::UserDefaults::standard();
  d.setObject(defaults::backupOrderListArray, json::array({line(1)}));
  d.setString(defaults::backupCustomerId, "C1");
  d.setDouble(defaults::backupOrderDiscountRate, 5);
  d.setString(defaults::backupDateTime, "2026-01-02T03:04:05Z");
  d.setString(defaults::serverIP, "10.0.0.1");
  {
    OrderBackup b(store());
    EXPECT_TRUE(b.hasLines());
    EXPECT_TRUE(b.savedAt().has_value());
    const json values = b.values();
    EXPECT_EQ(values[defaults::backupOrderListArray], json::array({line(1)}));
    EXPECT_EQ(values[defaults::backupCustomerId], "C1");
    EXPECT_EQ(values[defaults::backupOrderDiscountRate], 5.0);
  }
  EXPECT_TRUE(d.objectForKey(defaults::backupOrderListArray).is_null());
  EXPECT_TRUE(d.objectForKey(defaults::backupCustomerId).is_null());
  EXPECT_EQ(d.stringForKey(defaults::serverIP), "10.0.0.1");
  EXPECT_EQ(OrderBackup(store()).values()[defaults::backupCustomerId], "C1");
  ::unsetenv("XDG_CONFIG_HOME");
  foundation::UserDefaults::resetStandard();
}

}  // namespace
}  // namespace orvo
