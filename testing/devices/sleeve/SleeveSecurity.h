#pragma once
// The security modules of a simulated sleeve: the encrypted magnetic head behind its bridge
// (command 33 for the head, 62 for the head the sleeve emulates), the sleeve's own AES key
// store with its challenge-response (commands 25-28), a scripted EMV kernel (command 55, or
// the pinpad pass-through 0x42 with sub-command 0x3E) and the contactless-pass reader (VAS,
// commands 70 and 72).
//
// Its cryptography is independent of the SDK's: AES comes straight from OpenSSL and the
// CRC-16 is computed here, so tests check the driver against it rather than against itself.
//
// The kernel follows a small script: a start command (0x03) raises an online-authorisation
// request event (0x81) after its reply when `onlineRequestOnStart` holds; the online result
// (0x04) ends the transaction with a transaction-finished event (0x83) carrying C1 =
// `finishedStatus`. The card it reads is `card` (tracks and masked tracks): 0x06 answers it
// encrypted under the demonstration key in the driver's format byte, 0x08 answers the
// masked tracks as D3/D4.
//
// Threads: the modules run on the simulated sleeve's thread under its lock; tests change and
// read the state through the members below, which take the module's own lock.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "testing/devices/emsr/SimulatedEmsrHead.h"
#include "testing/devices/emv2/SimulatedEmv2Kernel.h"
#include "testing/devices/sleeve/SimulatedSleeve.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace devices {

// Records the encrypted-card, EMV kernel and pass callbacks of the sleeve driver as lines
// ("kxdev_emv2Event:8300C1021000", "magneticCardEncryptedData6:2,3,<hex>,t1,t2,(null)"),
// besides what RecordingPellanDelegate records. `selectors` empty: only the secure ones.
class RecordingSecureDelegate : public RecordingPellanDelegate {
 public:
  explicit RecordingSecureDelegate(std::vector<std::string_view> selectors = {}, std::string tag = {});

  void kxdev_emv2Event(const foundation::Bytes& event) override;
  void kxdev_magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data,
                                       const std::optional<std::string>& t1, const std::optional<std::string>& t2,
                                       const std::optional<std::string>& t3, int source) override;
  void magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data,
                                 const std::optional<std::string>& t1, const std::optional<std::string>& t2,
                                 const std::optional<std::string>& t3, int source) override;
  void magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data,
                                 const std::optional<std::string>& t1, const std::optional<std::string>& t2,
                                 const std::optional<std::string>& t3) override;
  void magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data) override;
  void magneticCardEncryptedData(int encryption, const foundation::Bytes& data) override;
  void emv2OnOnlineProcessing(const foundation::Bytes& data) override;
  void emv2OnUserInterfaceCode(int code, int status, double holdTime) override;
  void emv2OnTransactionFinished(const std::optional<foundation::Bytes>& data) override;
};

class SleeveSecurity {
 public:
  // Installs the modules into `sleeve`, which must outlive this object's use.
  explicit SleeveSecurity(SimulatedSleeve& sleeve);
  // Takes the modules out of the sleeve again.
  ~SleeveSecurity();
  SleeveSecurity(const SleeveSecurity&) = delete;
  SleeveSecurity& operator=(const SleeveSecurity&) = delete;

  // ---- Heads (thread-safe themselves) -------------------------------------------------------
  sim::SimulatedEmsrHead head;          // command 33
  sim::SimulatedEmsrHead emulatedHead;  // command 62

  // ---- Key store --------------------------------------------------------------------------------
  // Sets key `id` (0 authentication, 1 encryption) as if it had been loaded.
  void setKey(int id, const Bytes& key, uint32_t version);
  std::optional<Bytes> key(int id) const;
  uint32_t keyVersion(int id) const;
  uint32_t keyFlags(int id) const;
  // Whether the host proved itself with command 28 since the last random.
  bool hostAuthenticated() const;

  // ---- EMV kernel ----------------------------------------------------------------------------------
  struct Card {
    std::string track1, track2;              // plain tracks (encrypted before they leave)
    std::string track1Masked, track2Masked;  // D3 and D4
  };
  void setCard(Card card);
  void setFinishedStatus(uint16_t c1);
  void setOnlineRequestOnStart(bool on);
  // Kernel packets received (sub-command first), in order.
  std::vector<Bytes> kernelPackets() const;
  bool kernelInitialised() const;
  // Replaces the small script above with a scripted kernel (configuration slots, cards by
  // interface, online answers from the host, time-out, card removal); `withKernel` runs `f`
  // on it under the module's lock and sends the events it returns as kernel events.
  void useScriptedKernel(bool newer = true);
  void withKernel(const std::function<std::vector<Bytes>(SimulatedEmv2Kernel&)>& f);

  // ---- Contactless passes ---------------------------------------------------------------------
  // VAS command data received, with the command code (70 or 72) in front.
  std::vector<Bytes> vasCommands() const;

  // ---- Independent helpers for tests ----------------------------------------------------------
  static Bytes aes(const Bytes& key, const Bytes& data, bool encrypt);
  static uint16_t crc16(const uint8_t* data, size_t length);
  static const Bytes& demoKey();
  // A track buffer [F1 track 1][F2 track 2] in the block a head that has only the
  // demonstration key sends: 20-byte header, tracks, 00, CRC-16 (big-endian), zero padding,
  // encrypted.
  static Bytes demoEncrypted(const std::string& track1, const std::string& track2);

 private:
  std::optional<Bytes> keys(const Bytes& data, uint8_t* status);
  std::optional<Bytes> random(uint8_t* status);
  std::optional<Bytes> authenticateDevice(const Bytes& data, uint8_t* status);
  std::optional<Bytes> authenticateHost(const Bytes& data, uint8_t* status);
  std::optional<Bytes> kernel(const Bytes& packet, uint8_t* status, SleeveProtocol& protocol);
  std::optional<Bytes> vas(uint8_t command, const Bytes& data, uint8_t* status);

  SimulatedSleeve& sleeve_;
  mutable std::mutex mutex_;
  struct Key {
    Bytes value;
    uint32_t version = 0;
    uint32_t flags = 0;
  };
  std::map<int, Key> keys_;
  Bytes lastRandom_;
  bool hostAuthenticated_ = false;

  Card card_;
  uint16_t finishedStatus_ = 0x0800;
  bool onlineRequestOnStart_ = true;
  bool initialised_ = false;
  std::vector<Bytes> kernelPackets_;
  std::optional<SimulatedEmv2Kernel> scripted_;
  std::vector<Bytes> vasCommands_;
  std::map<int, uint32_t> vasKeys_;
};

}  // namespace devices
