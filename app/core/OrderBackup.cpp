#include "app/core/OrderBackup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string_view>

#include "app/core/UserDefaultsKeys.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"

namespace orvo {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kSnapshotName = "backup.json";
constexpr const char* kJournalPrefix = "journal-";
constexpr const char* kJournalSuffix = ".jsonl";
// The journal is folded into a new snapshot once it holds this much more than the
// snapshot itself: small orders are not rewritten on every change, large ones not more
// often than their own size in journal.
constexpr std::size_t kJournalSlack = 256 * 1024;
// The snapshot is written in parts of this size (the test hook runs between parts).
constexpr std::size_t kWritePart = 64 * 1024;

// The backup's keys, in the order the item list writes them.
constexpr const char* kBackupKeys[] = {
    defaults::backupOrderListArray, defaults::backupEditedPriceArray, defaults::backupCustomerId,
    defaults::backupStoreId,        defaults::backupPriceLevel,       defaults::backupOrderDiscountRate,
    defaults::backupOrderNumber,    defaults::backupDateTime};

std::mutex gHookMutex;
std::function<void(std::size_t, std::size_t)>& snapshotHook() {
  static auto* hook = new std::function<void(std::size_t, std::size_t)>();
  return *hook;
}

std::mutex gStandardMutex;

bool writeAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

void syncFolder(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void OrderBackup::setSnapshotHookForTesting(std::function<void(std::size_t, std::size_t)> hook) {
  std::lock_guard<std::mutex> lock(gHookMutex);
  snapshotHook() = std::move(hook);
}

namespace {

// Kept reachable for the life of the process, like the user defaults: callers on other
// threads may still be inside an old store when the folder changes.
OrderBackup*& currentStore() {
  static auto* current = new OrderBackup*(nullptr);
  return *current;
}

void retire(OrderBackup* store) {
  static auto* retired = new std::vector<OrderBackup*>();
  if (store) retired->push_back(store);
}

}  // namespace

OrderBackup& OrderBackup::standard() {
  std::lock_guard<std::mutex> lock(gStandardMutex);
  OrderBackup*& current = currentStore();
  const fs::path dir = foundation::Paths::dataDir() / "OrderBackup";
  if (!current || current->dir() != dir) {
    if (current) current->stopWriter();
    retire(current);
    current = new OrderBackup(dir);
  }
  return *current;
}

void OrderBackup::resetStandard() {
  std::lock_guard<std::mutex> lock(gStandardMutex);
  OrderBackup*& current = currentStore();
  if (!current) return;
  const fs::path dir = current->dir();
  current->stopWriter();
  retire(current);
  current = new OrderBackup(dir);
}

OrderBackup::OrderBackup(fs::path dir) : dir_(std::move(dir)) {
  std::error_code ec;
  fs::create_directories(dir_, ec);
  load();
  writer_ = std::thread([this] { run(); });
}

OrderBackup::~OrderBackup() {
  stopWriter();
  if (journalFd_ >= 0) ::close(journalFd_);
}

void OrderBackup::stopWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  done_.notify_all();
  if (writer_.joinable()) writer_.join();
}

fs::path OrderBackup::journalPath(std::uint64_t generation) const {
  return dir_ / (kJournalPrefix + std::to_string(generation) + kJournalSuffix);
}

std::vector<std::pair<std::uint64_t, fs::path>> OrderBackup::journals() const {
  std::vector<std::pair<std::uint64_t, fs::path>> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir_, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kJournalPrefix, 0) != 0 || name.size() <= std::string_view(kJournalPrefix).size() +
                                                                 std::string_view(kJournalSuffix).size() ||
        name.compare(name.size() - std::string_view(kJournalSuffix).size(), std::string::npos, kJournalSuffix) != 0)
      continue;
    const std::string digits = name.substr(std::string_view(kJournalPrefix).size(),
                                           name.size() - std::string_view(kJournalPrefix).size() -
                                               std::string_view(kJournalSuffix).size());
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        digits.size() > 18)
      continue;
    out.emplace_back(std::stoull(digits), entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// ----- Records

json OrderBackup::record(const Op& op) {
  json r = json::object();
  r["s"] = op.seq;
  switch (op.kind) {
    case OpKind::Update: r["op"] = "update"; break;
    case OpKind::Lines: r["op"] = "lines"; break;
    case OpKind::Insert: r["op"] = "insert"; r["at"] = op.pos; break;
    case OpKind::Replace: r["op"] = "replace"; r["at"] = op.pos; break;
    case OpKind::Erase: r["op"] = "erase"; r["at"] = op.pos; break;
  }
  if (op.kind != OpKind::Erase) r["v"] = op.value;
  return r;
}

std::optional<OrderBackup::Op> OrderBackup::opOfRecord(const json& r) {
  if (!r.is_object()) return std::nullopt;
  auto s = r.find("s");
  auto kind = r.find("op");
  if (s == r.end() || !s->is_number_unsigned() || kind == r.end() || !kind->is_string()) return std::nullopt;
  Op op;
  op.seq = s->get<std::uint64_t>();
  const std::string& k = kind->get_ref<const std::string&>();
  if (k == "update") op.kind = OpKind::Update;
  else if (k == "lines") op.kind = OpKind::Lines;
  else if (k == "insert") op.kind = OpKind::Insert;
  else if (k == "replace") op.kind = OpKind::Replace;
  else if (k == "erase") op.kind = OpKind::Erase;
  else return std::nullopt;
  if (op.kind == OpKind::Insert || op.kind == OpKind::Replace || op.kind == OpKind::Erase) {
    auto at = r.find("at");
    if (at == r.end() || !at->is_number_unsigned()) return std::nullopt;
    op.pos = at->get<std::size_t>();
  }
  if (op.kind != OpKind::Erase) {
    auto v = r.find("v");
    if (v == r.end()) return std::nullopt;
    op.value = *v;
    if (op.kind == OpKind::Update && !op.value.is_object()) return std::nullopt;
    if (op.kind == OpKind::Lines && !op.value.is_array()) return std::nullopt;
  }
  return op;
}

// Applies one change. A line change that does not fit the stored cart (no cart, a
// position past its end) changes nothing.
void OrderBackup::apply(json& values, const Op& op) {
  if (op.kind == OpKind::Update) {
    for (const auto& [key, v] : op.value.items()) {
      if (v.is_null())
        values.erase(key);
      else
        values[key] = v;
    }
    return;
  }
  if (op.kind == OpKind::Lines) {
    values[defaults::backupOrderListArray] = op.value;
    return;
  }
  auto it = values.find(defaults::backupOrderListArray);
  if (it == values.end() || !it->is_array()) return;
  json& lines = *it;
  switch (op.kind) {
    case OpKind::Insert:
      if (op.pos <= lines.size()) lines.insert(lines.begin() + std::ptrdiff_t(op.pos), op.value);
      break;
    case OpKind::Replace:
      if (op.pos < lines.size()) lines[op.pos] = op.value;
      break;
    case OpKind::Erase:
      if (op.pos < lines.size()) lines.erase(lines.begin() + std::ptrdiff_t(op.pos));
      break;
    default:
      break;
  }
}

// ----- Reading

json OrderBackup::readLocked(std::uint64_t* lastSeq, std::uint64_t* snapshotSeqOut) const {
  json values = json::object();
  std::uint64_t seq = 0;
  const fs::path snapshot = dir_ / kSnapshotName;
  if (auto text = foundation::readFile(snapshot)) {
    auto parsed = foundation::parseJson(*text);
    const json* v = nullptr;
    if (parsed && parsed->is_object()) {
      auto s = parsed->find("sequence");
      auto vs = parsed->find("values");
      if (s != parsed->end() && s->is_number_unsigned() && vs != parsed->end() && vs->is_object()) {
        seq = s->get<std::uint64_t>();
        v = &*vs;
      }
    }
    if (v) {
      values = *v;
    } else {
      // Not what this store writes: kept for inspection, never overwritten.
      std::error_code ec;
      fs::path aside = snapshot;
      aside += ".corrupt";
      fs::rename(snapshot, aside, ec);
    }
  }
  const std::uint64_t snapshotSeq = seq;
  if (snapshotSeqOut) *snapshotSeqOut = snapshotSeq;
  for (const auto& [generation, path] : journals()) {
    (void)generation;
    auto text = foundation::readFile(path);
    if (!text) continue;
    std::size_t start = 0;
    while (start < text->size()) {
      const std::size_t end = text->find('\n', start);
      if (end == std::string::npos) break;  // cut short by a crash: not a complete change
      auto parsed = foundation::parseJson(std::string_view(*text).substr(start, end - start));
      start = end + 1;
      auto op = parsed ? opOfRecord(*parsed) : std::nullopt;
      if (!op) break;
      if (op->seq <= snapshotSeq) continue;
      apply(values, *op);
      seq = std::max(seq, op->seq);
    }
  }
  if (lastSeq) *lastSeq = seq;
  return values;
}

void OrderBackup::noteLocked(const Op& op) {
  if (op.kind == OpKind::Lines) hasLines_ = true;
  if (op.kind != OpKind::Update) return;
  for (const auto& [key, v] : op.value.items()) {
    if (key == defaults::backupOrderListArray) {
      hasLines_ = !v.is_null();
      token_ = 0;
    } else if (key == defaults::backupDateTime) {
      savedAt_ = v.is_string() ? foundation::toWallTime(foundation::parseIsoDate(v.get<std::string>())) : std::nullopt;
    }
  }
}

void OrderBackup::load() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t seq = 0, snapshotSeq = 0;
  mirror_ = readLocked(&seq, &snapshotSeq);
  seq_ = appliedSeq_ = seq;
  snapshotSeq_ = attemptedSeq_ = snapshotSeq;
  auto j = journals();
  // A new journal after every start: the last one may end in a record cut short.
  generation_ = j.empty() ? 0 : j.back().first + 1;
  const json* lines = mirror_.contains(defaults::backupOrderListArray) ? &mirror_[defaults::backupOrderListArray] : nullptr;
  hasLines_ = lines != nullptr;
  auto date = mirror_.find(defaults::backupDateTime);
  if (date != mirror_.end() && date->is_string())
    savedAt_ = foundation::toWallTime(foundation::parseIsoDate(date->get<std::string>()));
  // Journals not yet folded in count towards the next snapshot.
  std::error_code ec;
  for (const auto& [g, path] : j) journalBytes_ += std::size_t(fs::file_size(path, ec));
  snapshotBytes_ = std::size_t(fs::file_size(dir_ / kSnapshotName, ec));
  if (ec) snapshotBytes_ = 0;
}

// A backup an earlier version kept in the user defaults: moved into this store, once,
// while the store holds no cart of its own.
void OrderBackup::importFromUserDefaultsLocked() {
  if (hasLines_) return;
  auto& d = foundation::UserDefaults::standard();
  if (d.objectForKey(defaults::backupOrderListArray).is_null()) return;
  json values = json::object();
  for (const char* key : kBackupKeys) {
    json v = d.objectForKey(key);
    if (!v.is_null()) values[key] = std::move(v);
  }
  Op op;
  op.kind = OpKind::Update;
  op.value = std::move(values);
  appendLocked(std::move(op));
  for (const char* key : kBackupKeys) d.removeObjectForKey(key);
}

json OrderBackup::values() {
  std::lock_guard<std::mutex> lock(mutex_);
  importFromUserDefaultsLocked();
  return readLocked(nullptr, nullptr);
}

bool OrderBackup::hasLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  importFromUserDefaultsLocked();
  return hasLines_;
}

std::optional<foundation::WallTime> OrderBackup::savedAt() {
  std::lock_guard<std::mutex> lock(mutex_);
  importFromUserDefaultsLocked();
  return savedAt_;
}

// ----- Changes

void OrderBackup::openJournalLocked() {
  if (journalFd_ >= 0) return;
  journalFd_ = ::open(journalPath(generation_).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

void OrderBackup::appendLocked(Op op) {
  op.seq = ++seq_;
  noteLocked(op);
  openJournalLocked();
  std::string line = foundation::compactJson(record(op));
  line += '\n';
  // The change is in the file (the kernel's) before the caller goes on: a process that
  // dies now keeps it. A journal that cannot be written leaves the snapshot to catch up.
  if (journalFd_ >= 0 && writeAll(journalFd_, line)) journalBytes_ += line.size();
  queue_.push_back(std::move(op));
  wake_.notify_one();
}

OrderBackup::Token OrderBackup::attach(const json& lines) {
  static std::atomic<Token> next{0};
  std::lock_guard<std::mutex> lock(mutex_);
  Op op;
  op.kind = OpKind::Lines;
  op.value = lines.is_array() ? lines : json::array();
  appendLocked(std::move(op));
  token_ = ++next;
  return token_;
}

bool OrderBackup::attached(Token token) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return token != 0 && token == token_;
}

void OrderBackup::insertLine(Token token, std::size_t pos, const json& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (token == 0 || token != token_) return;
  appendLocked(Op{0, OpKind::Insert, pos, line});
}

void OrderBackup::replaceLine(Token token, std::size_t pos, const json& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (token == 0 || token != token_) return;
  appendLocked(Op{0, OpKind::Replace, pos, line});
}

void OrderBackup::eraseLine(Token token, std::size_t pos) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (token == 0 || token != token_) return;
  appendLocked(Op{0, OpKind::Erase, pos, json()});
}

void OrderBackup::update(const json& values) {
  if (!values.is_object() || values.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  appendLocked(Op{0, OpKind::Update, 0, values});
}

void OrderBackup::remove(std::initializer_list<const char*> keys) {
  json values = json::object();
  for (const char* key : keys) values[key] = nullptr;
  update(values);
}

void OrderBackup::flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (snapshotSeq_ >= seq_ || stop_) return;
  flushWanted_ = std::max(flushWanted_, seq_);
  const std::uint64_t want = seq_;
  wake_.notify_one();
  done_.wait(lock, [&] { return attemptedSeq_ >= want || stop_; });
}

// ----- Writer thread

bool OrderBackup::writeSnapshot(const json& values, std::uint64_t seq) {
  json doc = json::object();
  doc["sequence"] = seq;
  doc["values"] = values;
  const std::string bytes = foundation::compactJson(doc);
  const fs::path path = dir_ / kSnapshotName;
  fs::path tmp = path;
  tmp += ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::function<void(std::size_t, std::size_t)> hook;
  {
    std::lock_guard<std::mutex> lock(gHookMutex);
    hook = snapshotHook();
  }
  bool ok = true;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const std::size_t n = std::min(kWritePart, bytes.size() - done);
    ok = writeAll(fd, std::string_view(bytes).substr(done, n));
    done += n;
    if (hook) hook(done, bytes.size());
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  // The rename and the journals' removal happen under the lock, so a reader sees either the
  // old snapshot with every journal or the new one with the journals it does not cover.
  std::lock_guard<std::mutex> lock(mutex_);
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  syncFolder(dir_);
  snapshotBytes_ = bytes.size();
  for (const auto& [generation, journal] : journals())
    if (generation < generation_) ::unlink(journal.c_str());
  return true;
}

void OrderBackup::run() {
  for (;;) {
    std::vector<Op> ops;
    bool snapshot = false;
    std::uint64_t upTo = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || !queue_.empty() || flushWanted_ > snapshotSeq_; });
      if (stop_ && queue_.empty()) break;
      ops.swap(queue_);
      upTo = seq_;
      snapshot = flushWanted_ > snapshotSeq_ || journalBytes_ > snapshotBytes_ + kJournalSlack;
      if (snapshot) {
        // Later changes go to a new journal; the snapshot covers this one and older ones.
        if (journalFd_ >= 0) ::close(journalFd_);
        journalFd_ = -1;
        ++generation_;
        journalBytes_ = 0;
      }
    }
    for (const auto& op : ops) apply(mirror_, op);
    bool written = snapshot && writeSnapshot(mirror_, upTo);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      appliedSeq_ = upTo;
      if (snapshot) attemptedSeq_ = std::max(attemptedSeq_, upTo);
      if (written) snapshotSeq_ = std::max(snapshotSeq_, upTo);
      if (snapshot && !written) flushWanted_ = std::min(flushWanted_, snapshotSeq_);  // failed: do not spin
    }
    done_.notify_all();
  }
  done_.notify_all();
}

}  // namespace orvo
