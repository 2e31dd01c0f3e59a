#pragma once
// The state of a simulated pinpad and its answer to each command, as plain data: the
// identification and system information of a persona, settings, clock, event mask,
// firmware pages received, a screen of the persona's size (PinpadScreen) with a scripted
// keypad, PIN entry, menus and data prompts, a printer whose data feeds the receipt
// simulator's print head, a barcode engine, a Mifare
// Classic reader with one card, a Bluetooth module (a simulated BT301 behind its byte pipe),
// and a magnetic head holding
// the next swipe.
//
// `handle` takes one command (group, then the sub-command byte and its arguments) and
// gives the pinpad's status and reply data; it never does I/O, so the simulator and tests
// can drive it directly. Not thread-safe: the simulator guards it.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "testing/devices/pinpad/PinpadScreen.h"
#include "testing/devices/printer/ReceiptRenderer.h"
#include "testing/devices/bluetooth/SimulatedBT301.h"
#include "testing/devices/emv2/SimulatedEmv2Kernel.h"

namespace devices {

using foundation::Bytes;

struct PinpadPersona {
  std::string firmwareName;       // "FW SKYRIK5000G"
  uint32_t firmwareVersion = 0;   // of the system information
  uint32_t identificationFirmware = 0;
  std::string featureString;      // empty: none in the identification reply
  uint32_t serialNumber = 0;
  bool olderSystemInfo = false;   // answer the 132-byte layout
  int displayWidth = 0, displayHeight = 0;
  bool colourDisplay = false;
  bool printer = false;

  // The personas of the identification answers.
  static PinpadPersona skyrik5000g();  // colour 320 x 240, printer, barcode engine, RF
  static PinpadPersona skyrik500();    // 128 x 32 display at the bottom, barcode engine
  static PinpadPersona ppad2();        // older pinpad without a feature string
};

struct MifareCard {
  uint32_t serial = 0x11223344;
  uint8_t atq1 = 0x04, atq2 = 0x00, sak = 0x08;
  std::array<std::array<uint8_t, 16>, 64> blocks{};
};

// The keys of the simulated keypad as the pinpad reports them: the digits are the bytes 0-9.
namespace pinpadkey {
inline constexpr uint8_t kF1 = 'a';
inline constexpr uint8_t kF2 = 'b';
inline constexpr uint8_t kEnter = 'A';
inline constexpr uint8_t kCancel = 'C';
inline constexpr uint8_t kClear = 'c';
// Not a key: the cardholder's time runs out.
inline constexpr uint8_t kTimeout = 0xFF;
}  // namespace pinpadkey

class PinpadModel {
 public:
  explicit PinpadModel(PinpadPersona persona);

  struct Answer {
    uint8_t status = 0;
    Bytes data;
  };
  // One command; nothing when the pinpad would not answer at all.
  std::optional<Answer> handle(uint8_t group, const Bytes& data);

  // A response packet: [">"][0x00][status][length BE][data][XOR].
  static Bytes responsePacket(uint8_t status, const Bytes& data);
  // An event or other unsolicited packet of `type`.
  static Bytes packet(uint8_t type, uint8_t status, const Bytes& data);

  PinpadPersona persona;

  // Settings (group 0x36, 0x15/0x16) by setting number; raw bytes as last written.
  std::map<int, Bytes> settings;
  // Clock: year - 2000, month, day, hour, minute, second.
  std::array<uint8_t, 6> clock{26, 1, 1, 0, 0, 0};
  uint32_t events = 0;
  std::vector<Bytes> beeps;
  bool statusLine = true;
  bool keyboardEnabled = false;
  bool printerEnabled = false;
  int paperWidth = 384;
  // Firmware update.
  bool updating = false;
  bool updateEnded = false;
  std::vector<Bytes> firmwarePages;
  int restarts = 0;
  std::string btFirmware = "BT301 1.02";
  Bytes btUpdateData;
  bool btUpdated = false;
  // Barcode engine.
  int scanWireMode = 1;
  bool scanning = false;
  Bytes nextBarcode;
  Bytes initData;
  Bytes scanBeep;
  int baud = 9600;
  // Mifare reader.
  bool rfField = false;
  std::optional<MifareCard> card = MifareCard{};
  bool cardSelected = false;
  int requestFailures = 0;  // card status 1 for this many requests
  std::array<std::array<uint8_t, 6>, 32> keySlots{};
  uint32_t lastAuthSerial = 0;
  int lastAuthBlock = -1;
  uint32_t readerSerial = 0xCAFE0001;
  // A contactless reader module (nothing: none): RF frames of group 0x39 go to it in place
  // of the Mifare commands, with an empty reply; what it sends from inside a command waits
  // in `rfPackets` and goes out as RF data packets (0x0A) after the reply.
  std::function<void(const Bytes&)> rfReader;
  std::vector<Bytes> rfPackets;
  // Bluetooth module: a BT301 behind the byte pipe of group 0x3A. [01][flag] powers it,
  // [02][bytes] feeds it, [03] takes the next entry of `btOut`. What the module sends goes
  // to the host unasked as packets 0x09 (queued in `btPackets`, sent before the answer of the
  // command that caused them): with the bytes, or with `btNotifyEmpty` empty, the bytes
  // waiting in `btOut` for the host's reads.
  SimulatedBT301 btModule;
  bool btNotifyEmpty = false;
  bool btEnabled = false;
  int btPowerCycles = 0;
  Bytes btReceived;          // what the host wrote to the module
  std::vector<Bytes> btOut;  // what the module has for the host, one read each
  std::vector<Bytes> btPackets;
  Bytes btInitData;
  // The module sent `bytes` to the host (nothing for none).
  void btModuleSent(const std::string& bytes);
  // Magnetic head: the next card read (plain track buffer after a header byte).
  Bytes nextCard;
  bool readerStarted = false;
  int smartCardInits = 0;
  // Masked tracks answered to a masked-data request (34 13).
  Bytes maskedTracks;
  // The plain tracks of the last card read; the Triple-DES read (34 0A [tracks][key][unique
  // ID 4]) answers [tracks mask] then them (zero-padded) encrypted CBC with a zero vector
  // under the key of the key number (255: the data variant of the current DUKPT key).
  Bytes cardTracks;
  // The encrypted head behind group 0x3B: the block it gives for an encrypted card read.
  Bytes encryptedBlock;
  Bytes hardwareInfo = {0x10, 0x01, 0x20};
  // Keys (group 0x31): by key number, with the record the inventory reports.
  struct Key {
    Bytes value;  // 16 bytes: a two-key Triple-DES key
    uint8_t type = 84;
    std::string usage = "P0";
    uint8_t mode = 'E';
    uint8_t version = 1;
  };
  std::map<int, Key> keys;
  bool keyListCommand = true;  // false: an older pinpad without the inventory command
  int keySaves = 0;
  // DUKPT keys by number: the initial key and the serial number of the current key.
  struct DukptKey {
    Bytes ipek;
    Bytes ksn;      // 10 bytes
    Bytes current;  // the transaction key of `ksn` once a key was generated
  };
  std::map<int, DukptKey> dukptKeys;
  int onlineKey = -1;  // the DUKPT key whose transaction key "key 255" names
  // Certificate-authority keys: RID and index (6 bytes) and modulus by slot.
  std::array<std::optional<std::pair<Bytes, Bytes>>, 29> caKeys;
  int caWrites = 0;
  // RSA public key for card data.
  Bytes rsaModulus, rsaExponent;
  // Contact smart card in slot 0.
  struct SmartCard {
    Bytes atr = {0x3B, 0x02, 0x14, 0x50};
    std::map<Bytes, Bytes> answers;  // command APDU -> response APDU (else 6D 00)
    int powerOnFailures = 0;
  };
  std::optional<SmartCard> smartCard;
  bool cardPowered = false;
  // Magnetic head: masked track 2, cardholder name, loyalty number, manual entry, swipes.
  std::string maskedTrack2, cardholderName, loyaltyNumber;
  std::optional<Bytes> manualEntry;  // nothing: "No Data"
  std::vector<Bytes> simulatedSwipes;
  // The newer EMV kernel's channel (groups 0x3C / 0x3E) answers with the request.
  bool emv2Channel = false;
  // A scripted kernel on that channel instead (the echo is off then); the events its
  // commands raise wait here and go out as event packets 0x0B after the reply.
  std::optional<SimulatedEmv2Kernel> emv2Kernel;
  std::vector<Bytes> emv2Events;
  // Legacy EMV kernel.
  bool emvReady = false;
  std::vector<int> emvSteps;           // sub-commands in the order received
  std::map<int, Bytes> emvData;        // data elements by tag
  std::array<uint8_t, 5> tvr{};
  std::array<uint8_t, 2> tsi{};
  Bytes emvAppList;                    // the last application list loaded (as sent)
  Bytes emvCommonList;                 // reply data of the common application list
  std::map<std::pair<Bytes, int>, Bytes> emvPublicKeys;  // (RID, index) -> modulus

  // Screen: what the display commands drew.
  PinpadScreen screen;
  // Keypad: the keys the cardholder presses next. Each PIN, menu or prompt check (and each
  // key read) takes one; with none left the entry goes on (status 8).
  std::deque<uint8_t> keypad;
  bool asyncPinCommands = true;  // false: an older pinpad that refuses 20 and 26
  struct PinEntry {
    bool active = false;
    int digits = 0;
    int minPin = 4, maxPin = 12;
    Bytes start;  // the start command as received
    std::string typed;  // the digits so far
  };
  PinEntry pin;
  int pinsEntered = 0;
  // The PIN of the last entry the cardholder confirmed; PIN blocks (35 0A 02) are made of
  // it: ISO 9564 formats by the pinpad's numbers (4 format 0, 5 format 1, 6 format 2, 13
  // format 3; 4 and 13 with the PAN sent after the key number), encrypted with Triple-DES
  // under key type 2 the PIN variant of the current DUKPT transaction key of the key
  // number, 3 the working key sent in the key-variant field decrypted under the key of the
  // key number, 4 the key of the key number; the key variant is XORed into the key (types 2
  // and 4).
  std::string enteredPin;
  int pinBlocks = 0;
  int pinChecks = 0;
  struct Menu {
    bool open = false;
    int timeout = 0;
    std::string title;
    std::vector<std::string> choices;
  };
  Menu menu;
  int menuChecks = 0;
  struct Prompt {
    bool open = false;
    int id = 0, language = 0, maxLength = 0, timeout = 0;
    std::string value;
  };
  Prompt prompt;
  int promptCancels = 0;
  // Printer channel: the print head the data commands feed, the sizes of the data commands
  // received, and how many capability-3 queries report the job still printing.
  ReceiptRenderer receipt{384};
  std::vector<size_t> printSlices;
  int busyChecks = 0;

  // Commands refused with a status, or never answered, by group and sub-command.
  std::map<std::pair<int, int>, uint8_t> refuse;
  std::vector<std::pair<int, int>> mute;

 private:
  std::optional<Answer> system(const Bytes& d);
  std::optional<Answer> userInterface(const Bytes& d);
  std::optional<Answer> pinCommand(const Bytes& d);
  std::optional<Answer> pinBlock(const Bytes& d);
  std::optional<Answer> menuOrPrompt(const Bytes& d);
  std::optional<Answer> printerChannel(const Bytes& d);
  uint8_t pinKey(uint8_t key);
  Bytes bandRows;
  int bandHeight = 0;
  std::optional<Answer> barcode(const Bytes& d);
  std::optional<Answer> mifare(const Bytes& d);
  std::optional<Answer> bluetooth(const Bytes& d);
  std::optional<Answer> crypto(uint8_t group, const Bytes& d);
  std::optional<Answer> keysAndCertificates(const Bytes& d);
  std::optional<Answer> smartCardCommand(const Bytes& d);
  std::optional<Answer> magnetic(const Bytes& d);
  std::optional<Answer> emv(const Bytes& d);
  Bytes keyList() const;
  Bytes systemInfo() const;
  Bytes identification() const;
};

}  // namespace devices
