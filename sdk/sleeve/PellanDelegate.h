#pragma once
// What the sleeve driver tells its delegates. Every callback is optional: a delegate lists
// the ones it implements (by selector name, `implements({sel::connectionState, ...})` in its
// constructor) and only those are called. The device API is the main delegate; others may
// register too.
//
// Threads: `connectionState`, `deviceFeatureSupported` and every card, barcode and button
// callback arrive on the main queue; `handleEvent` arrives on the thread that delivered the
// sleeve's bytes, `bluetoothDevicePassKeySent` on the thread that reported it. The driver walks its list from the last registered delegate to the first,
// and an exception thrown by one delegate is caught and does not stop the others.
//
// The barcode forms of KXBarcodeDelegate are what the SDK's barcode notifier sends when no
// delegate takes `kxdev_barcodeData`.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "sdk/foundation/KXBarcodeDelegate.h"
#include "sdk/transport/bluetooth/BTModuleTypes.h"

namespace kestra {

namespace sel {
inline constexpr std::string_view connectionState = "connectionState:";
inline constexpr std::string_view deviceFeatureSupported = "deviceFeatureSupported:value:";
inline constexpr std::string_view pellanButtonPressed = "pellanButtonPressed:";
inline constexpr std::string_view pellanButtonReleased = "pellanButtonReleased:";
inline constexpr std::string_view kxdev_debug = "kxdev_debug:source:";
inline constexpr std::string_view kxdev_barcodeData = "kxdev_barcodeData:";
inline constexpr std::string_view kxdev_uhfCard = "kxdev_uhfCard:epc:";
inline constexpr std::string_view kxdev_magneticPassbookData = "kxdev_magneticPassbookData:";
inline constexpr std::string_view kxdev_magneticCTDOTData = "kxdev_magneticCTDOTData:";
inline constexpr std::string_view magneticCardData = "magneticCardData:track2:track3:";
inline constexpr std::string_view magneticJISCardData = "magneticJISCardData:";
inline constexpr std::string_view magneticF2FCardData = "magneticF2FCardData:";
inline constexpr std::string_view magneticCardRawData = "magneticCardRawData:";
inline constexpr std::string_view handleEvent = "handleEvent:";
inline constexpr std::string_view bluetoothDevicePassKeySent = "bluetoothDevicePassKeySent:passKey:";
// Encrypted head, EMV kernel and contactless pass results.
inline constexpr std::string_view kxdev_emv2Event = "kxdev_emv2Event:";
inline constexpr std::string_view kxdev_magneticCardEncryptedData =
    "kxdev_magneticCardEncryptedData:tracks:data:track1masked:track2masked:track3:source:";
inline constexpr std::string_view magneticCardEncryptedData_masked_source =
    "magneticCardEncryptedData:tracks:data:track1masked:track2masked:track3:source:";
inline constexpr std::string_view magneticCardEncryptedData_masked =
    "magneticCardEncryptedData:tracks:data:track1masked:track2masked:track3:";
inline constexpr std::string_view magneticCardEncryptedData_tracks = "magneticCardEncryptedData:tracks:data:";
inline constexpr std::string_view magneticCardEncryptedData_data = "magneticCardEncryptedData:data:";
inline constexpr std::string_view emv2OnOnlineProcessing = "emv2OnOnlineProcessing:";
inline constexpr std::string_view emv2OnUserInterfaceCode = "emv2OnUserInterfaceCode:status:holdTime:";
inline constexpr std::string_view emv2OnTransactionFinished = "emv2OnTransactionFinished:";
inline constexpr std::string_view firmwareUpdateProgress = "firmwareUpdateProgress:percent:";
}  // namespace sel

// The Bluetooth module callbacks (BTModuleEvents) reach the delegates on the thread that
// reported them; the asking ones return the answer of the first delegate in list order.
class PellanDelegate : public KXBarcodeDelegate, public virtual BTModuleEvents {
 public:
  // 0 disconnected, 1 connecting, 2 connected.
  virtual void connectionState(int state) { (void)state; }
  virtual void deviceFeatureSupported(int feature, int value) { (void)feature; (void)value; }
  virtual void pellanButtonPressed(int button) { (void)button; }
  virtual void pellanButtonReleased(int button) { (void)button; }
  virtual void kxdev_debug(const std::string& text, int source) { (void)text; (void)source; }
  // The engine's symbology code followed by the code's bytes.
  virtual void kxdev_barcodeData(const foundation::Bytes& barcode) { (void)barcode; }
  virtual void kxdev_uhfCard(int pc, const foundation::Bytes& epc) { (void)pc; (void)epc; }
  virtual void kxdev_magneticPassbookData(const foundation::Bytes& data) { (void)data; }
  virtual void kxdev_magneticCTDOTData(const foundation::Bytes& data) { (void)data; }
  // Absent tracks are nullopt. The texts hold card data: never log or keep them.
  virtual void magneticCardData(const std::optional<std::string>& track1,
                                const std::optional<std::string>& track2,
                                const std::optional<std::string>& track3) {
    (void)track1; (void)track2; (void)track3;
  }
  virtual void magneticJISCardData(const std::string& data) { (void)data; }
  virtual void magneticF2FCardData(const std::string& data) { (void)data; }
  virtual void magneticCardRawData(const foundation::Bytes& data) { (void)data; }
  // A generic sleeve event (its payload), on the delivering thread.
  virtual void handleEvent(const foundation::Bytes& data) { (void)data; }
  // ---- Encrypted head, EMV kernel and contactless passes (main queue) ----------------------
  // An EMV kernel event: [event code][reserved][TLV data...]; contactless pass results come
  // as 0x88/0x89 records followed by a 0x83 (transaction finished) record.
  virtual void kxdev_emv2Event(const foundation::Bytes& event) { (void)event; }
  // Card data from the encrypted head (source 0) or emulated from an EMV card read
  // (source 1). `encryption` is the head's algorithm, `tracks` the mask of tracks read;
  // the masked texts show only what the head lets through. The device API takes this form;
  // a delegate that takes it stops the older forms below.
  virtual void kxdev_magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data,
                                               const std::optional<std::string>& track1masked,
                                               const std::optional<std::string>& track2masked,
                                               const std::optional<std::string>& track3, int source) {
    (void)encryption; (void)tracks; (void)data; (void)track1masked; (void)track2masked; (void)track3;
    (void)source;
  }
  // The older forms, most specific first; only the first form that has a taker is sent.
  virtual void magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data,
                                         const std::optional<std::string>& track1masked,
                                         const std::optional<std::string>& track2masked,
                                         const std::optional<std::string>& track3, int source) {
    (void)encryption; (void)tracks; (void)data; (void)track1masked; (void)track2masked; (void)track3;
    (void)source;
  }
  virtual void magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data,
                                         const std::optional<std::string>& track1masked,
                                         const std::optional<std::string>& track2masked,
                                         const std::optional<std::string>& track3) {
    (void)encryption; (void)tracks; (void)data; (void)track1masked; (void)track2masked; (void)track3;
  }
  virtual void magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data) {
    (void)encryption; (void)tracks; (void)data;
  }
  virtual void magneticCardEncryptedData(int encryption, const foundation::Bytes& data) {
    (void)encryption; (void)data;
  }
  // The kernel asks for online authorisation: the TLV data of the request. When nobody takes
  // it and the magnetic-card emulation is on, the driver approves the request itself.
  virtual void emv2OnOnlineProcessing(const foundation::Bytes& data) { (void)data; }
  // A user-interface message of the kernel; status and hold time -1 when not given.
  virtual void emv2OnUserInterfaceCode(int code, int status, double holdTime) {
    (void)code; (void)status; (void)holdTime;
  }
  // The transaction's collected TLV data, or nothing (a transaction ended by the kernel's
  // "card removed" message, or an emulation that read no card).
  virtual void emv2OnTransactionFinished(const std::optional<foundation::Bytes>& data) { (void)data; }

  // A firmware update's progress (PellanFirmware.h), on the updating caller's thread.
  virtual void firmwareUpdateProgress(int phase, int percent) { (void)phase; (void)percent; }
};

}  // namespace kestra
