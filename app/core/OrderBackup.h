#pragma once
// The backup of the unfinished order (the cart of the item list and the order head values
// it depends on), kept in a folder of its own so that a change of one line costs the same
// whatever the size of the order. Its values are the user-defaults keys the backup always
// had ("backupOrderListArray", "backupEditedPriceArray", "backupCustomerId", ...), with the
// same value forms; a backup that an earlier version left in the user defaults is read from
// there (and moved here) while this store holds no cart.
//
// On disk: `backup.json`, a snapshot {"sequence": N, "values": {...}}, written atomically
// (temporary file, fsync, rename), and journals `journal-<generation>.jsonl`, one JSON
// record per change, each change numbered. Every change is appended to the journal on the
// caller's thread before the call returns, so nothing is lost when the process dies right
// after it; the snapshot is rewritten off the caller's thread, on the store's writer thread,
// once the journal has grown past the snapshot's own size (so the writing stays linear in
// the number of changes), and the journals it covers are deleted. Reading takes the
// snapshot and replays the journals' later records; a record cut short by a crash, or one
// that cannot be read, ends the replay there, so what comes back is the last complete
// change. A snapshot that cannot be read is moved aside (".corrupt") rather than lost.
//
// A writer (the item list) attaches with its whole cart once (`attach`) and then sends
// line changes by position; the attachment ends when the cart is removed (clearing), so a
// writer whose backup was cleared attaches again with its next full save.
//
// Thread-safe; `standard()` is the store of `Paths::dataDir()/OrderBackup`, made again when
// that folder changes (tests give every test its own folder).

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"

namespace orvo {

class OrderBackup {
 public:
  using Token = std::uint64_t;

  explicit OrderBackup(std::filesystem::path dir);
  ~OrderBackup();
  OrderBackup(const OrderBackup&) = delete;
  OrderBackup& operator=(const OrderBackup&) = delete;

  static OrderBackup& standard();
  // Reads the standard store again from its files, as a new start of the application would.
  static void resetStandard();

  // The stored values as one object of backup keys (empty when nothing is stored), read
  // from the files as a restart would read them. Linear in the backup's size.
  nlohmann::json values();
  // Whether a cart is stored ("backupOrderListArray" present).
  bool hasLines();
  // "backupDateTime", when stored.
  std::optional<foundation::WallTime> savedAt();

  // The whole cart as "backupOrderListArray"; returns the token for the line changes that
  // follow. Linear in the cart.
  Token attach(const nlohmann::json& lines);
  // Whether `token` is the attachment the stored cart follows.
  bool attached(Token token) const;
  // Line changes of an attached writer (ignored with any other token); positions as in the
  // writer's cart before the change.
  void insertLine(Token token, std::size_t pos, const nlohmann::json& line);
  void replaceLine(Token token, std::size_t pos, const nlohmann::json& line);
  void eraseLine(Token token, std::size_t pos);
  // Sets the keys of `values` (a null value removes its key). Setting or removing
  // "backupOrderListArray" ends the attachment.
  void update(const nlohmann::json& values);
  void remove(std::initializer_list<const char*> keys);

  // Waits until the writer thread has put every change so far into the snapshot.
  void flush();

  const std::filesystem::path& dir() const { return dir_; }

  // Tests: called while the snapshot's temporary file is written, after each part, with
  // the bytes written so far and the total.
  static void setSnapshotHookForTesting(std::function<void(std::size_t written, std::size_t total)> hook);

 private:
  enum class OpKind { Update, Lines, Insert, Replace, Erase };
  struct Op {
    std::uint64_t seq = 0;
    OpKind kind = OpKind::Update;
    std::size_t pos = 0;
    nlohmann::json value;
  };

  void load();
  void importFromUserDefaultsLocked();
  void appendLocked(Op op);
  void openJournalLocked();
  void noteLocked(const Op& op);
  static void apply(nlohmann::json& values, const Op& op);
  static nlohmann::json record(const Op& op);
  static std::optional<Op> opOfRecord(const nlohmann::json& record);
  void run();
  bool writeSnapshot(const nlohmann::json& values, std::uint64_t seq);
  std::filesystem::path journalPath(std::uint64_t generation) const;
  std::vector<std::pair<std::uint64_t, std::filesystem::path>> journals() const;
  nlohmann::json readLocked(std::uint64_t* lastSeq, std::uint64_t* snapshotSeq) const;
  void stopWriter();

  const std::filesystem::path dir_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, done_;
  // Caller side, under mutex_.
  std::uint64_t seq_ = 0;          // last change numbered
  std::uint64_t appliedSeq_ = 0;   // last change the writer applied
  std::uint64_t snapshotSeq_ = 0;  // last change in the snapshot
  std::uint64_t attemptedSeq_ = 0; // last change a snapshot was tried for
  std::uint64_t flushWanted_ = 0;  // a snapshot up to this change is asked for
  std::uint64_t generation_ = 0;   // journal being appended
  int journalFd_ = -1;
  std::size_t journalBytes_ = 0;   // in journals not yet covered by a snapshot
  std::size_t snapshotBytes_ = 0;
  std::vector<Op> queue_;
  Token token_ = 0;
  bool hasLines_ = false;
  std::optional<foundation::WallTime> savedAt_;
  bool stop_ = false;
  // Writer side: the values as the snapshot will hold them.
  nlohmann::json mirror_ = nlohmann::json::object();
  std::thread writer_;
};

}  // namespace orvo
