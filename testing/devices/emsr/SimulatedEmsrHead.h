#pragma once
// A simulated encrypted magnetic head that speaks the head's command set: it reads request
// packets [command][0][length BE][data] and answers [0][status][length BE][data]. It keeps
// identity, versions, a key list, encryption settings and a firmware image being written,
// records every request it was sent, and has knobs for the faults drivers must survive:
// a firmware block refused (once or for good), tampering, a status for the next command, a
// short reply, silence.
//
// Reach it through `handle` (request bytes in, reply bytes out; empty for silence) — the way
// a simulated sleeve, printer or pinpad carries the head's packets — or register it directly
// with the command library: `kestra::emsrSetCallbacks(&head, SimulatedEmsrHead::transport)`.
//
// Thread-safe: every member may be called from any thread.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace sim {

using foundation::Bytes;

class SimulatedEmsrHead {
 public:
  struct Key {
    int id = 0;
    uint32_t version = 0;
    Bytes ksn;  // 10 bytes for DUKPT keys, empty otherwise
  };

  // Head status codes (reported by the library as -(11000 + status)).
  static constexpr uint8_t kInvalidCommand = 1;
  static constexpr uint8_t kNoPermission = 2;
  static constexpr uint8_t kSyntaxError = 4;
  static constexpr uint8_t kNoData = 6;
  static constexpr uint8_t kInvalidDataLength = 20;
  static constexpr uint8_t kTampered = 21;

  SimulatedEmsrHead();

  // The transport the command library calls; `owner` is the head.
  static int transport(void* owner, const uint8_t* request, int requestLength, uint8_t* reply, int replyCapacity,
                       int timeoutMs);

  // One request packet in, the reply packet out (empty when the head stays silent).
  Bytes handle(const Bytes& request);

  // ---- Identity and state (set before use) ----------------------------------------------
  void setIdent(const std::string& ident);       // up to 16 characters
  void setVersions(int firmware, int security);  // hundreds-coded, 214 is 2.14
  // 20 (default) or 18: with 18 the information reply carries no firmware version.
  void setInfoDataLength(int n);
  void setSerial(const Bytes& serial16);
  void setKeys(std::vector<Key> keys);
  void setTampered(bool tampered);
  void setSupportedEncryptions(const Bytes& algorithms);
  void setMaskedData(const std::string& text);
  void setTracksRead(int mask);

  // ---- Faults ------------------------------------------------------------------------------
  // Refuses the firmware block with index `block` (0 = first data block) `times` times with
  // `status` (the library tries each block three times).
  void failFirmwareBlock(int block, int times, uint8_t status = kInvalidDataLength);
  // Refuses [31, algorithm, key id, ...] with kNoPermission; [31, algorithm] is accepted.
  void refuseKeyedEncryption(bool refuse);
  // The next request is answered with `status` and no data.
  void failNextCommand(uint8_t status);
  // The next reply declares more data than it carries.
  void shortenNextReply();
  // No reply to any request while set.
  void setSilent(bool silent);

  // ---- What the head was sent ---------------------------------------------------------------
  std::vector<Bytes> requests() const;
  void clearRequests();
  Bytes firmwareHeader() const;
  // Data blocks in the order they were accepted.
  std::vector<Bytes> firmwareBlocks() const;
  bool firmwareStarted() const;
  bool firmwareFinished() const;   // [F2] received
  bool firmwareCommitted() const;  // 0x02 [06] received
  int blockAttempts(int block) const;
  bool enabled() const;
  // Algorithm and key id of the last accepted encryption setting (-1: no key id sent).
  std::pair<int, int> encryption() const;
  // Flags, digits at start and end of the last masked-data configuration.
  Bytes maskedConfig() const;
  Bytes loadedEccKey() const;

 private:
  Bytes reply(uint8_t status, const Bytes& data = {});
  Bytes handleGroup51(const Bytes& data);

  mutable std::mutex mutex_;
  std::string ident_;
  int firmware_ = 214;
  int security_ = 301;
  int infoLength_ = 20;
  Bytes serial_;
  std::vector<Key> keys_;
  bool tampered_ = false;
  Bytes encryptions_;
  std::string masked_;
  int tracksRead_ = 0;
  bool enabled_ = false;

  std::map<int, std::pair<int, uint8_t>> blockFaults_;  // block -> (times left, status)
  std::map<int, int> blockAttempts_;
  bool refuseKeyed_ = false;
  std::optional<uint8_t> nextStatus_;
  bool shortenNext_ = false;
  bool silent_ = false;

  std::vector<Bytes> requests_;
  Bytes header_;
  std::vector<Bytes> blocks_;
  bool started_ = false;
  bool finished_ = false;
  bool committed_ = false;
  std::pair<int, int> encryption_{0, -1};
  Bytes maskedConfig_;
  Bytes pendingEcc_;
  Bytes eccKey_;
};

}  // namespace sim
