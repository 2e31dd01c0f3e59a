#pragma once
// KXDeviceDelegate: the one callback protocol of the SDK. The device API (`KXDevices`) and
// its public facade (`OKTKXDevices`) deliver every device event through it; applications
// implement the callbacks they need.
//
// Every callback is optional. A delegate declares, in its constructor, which callbacks it
// implements by their selector names (`implements({kxsel::barcodeData_type, ...})`); a
// callback is sent only to delegates that respond to it. Behaviour depends on this: a
// delegate that implements the bytes form of a barcode gets that form, and the most
// specific form of an encrypted card event stops the less specific ones.
//
// Delegates are held weakly by whoever sends the events: a delegate that is freed is simply
// skipped. Events arrive synchronously on the thread of the driver that produced them
// (connection changes and sleeve events on the main queue); a delegate that needs another
// thread moves the work itself. Arguments belong to the caller for the duration of the
// call. Texts of card tracks hold card data: never log or keep them longer than needed.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "sdk/foundation/KXBarcodeDelegate.h"

namespace bluetooth {
class Peripheral;
}

namespace kestra {

// Objects of other parts of the SDK that some events carry; only their owners look inside.
struct KXRFCardInfo;
// A Bluetooth Low Energy peripheral (platform/bluetooth/Central.h).
using CBPeripheral = bluetooth::Peripheral;
class TrelmoDevice;

// Selector names of the protocol, in its declared order.
namespace kxsel {
inline constexpr std::string_view connectionState = "connectionState:";
inline constexpr std::string_view deviceButtonPressed = "deviceButtonPressed:";
inline constexpr std::string_view deviceButtonReleased = "deviceButtonReleased:";
inline constexpr std::string_view barcodeData_type = sel::barcodeData_type;
inline constexpr std::string_view barcodeData_isotype = sel::barcodeData_isotype;
inline constexpr std::string_view barcodeNSData_type = sel::barcodeNSData_type;
inline constexpr std::string_view barcodeNSData_isotype = sel::barcodeNSData_isotype;
inline constexpr std::string_view magneticCardDetected = "magneticCardDetected";
inline constexpr std::string_view magneticCardData = "magneticCardData:track2:track3:";
inline constexpr std::string_view magneticPassbookData = "magneticPassbookData:";
inline constexpr std::string_view magneticCTDOTData = "magneticCTDOTData:";
inline constexpr std::string_view magneticCardData_source = "magneticCardData:track2:track3:source:";
inline constexpr std::string_view magneticCardEncryptedData = "magneticCardEncryptedData:tracks:data:";
inline constexpr std::string_view magneticCardEncryptedData_masked =
    "magneticCardEncryptedData:tracks:data:track1masked:track2masked:track3:";
inline constexpr std::string_view magneticCardEncryptedData_masked_source =
    "magneticCardEncryptedData:tracks:data:track1masked:track2masked:track3:source:";
inline constexpr std::string_view magneticCardRawData = "magneticCardRawData:";
inline constexpr std::string_view magneticCardEncryptedRawData = "magneticCardEncryptedRawData:data:";
inline constexpr std::string_view magneticCardReadFailed = "magneticCardReadFailed:";
inline constexpr std::string_view magneticCardReadFailed_reason = "magneticCardReadFailed:reason:";
inline constexpr std::string_view firmwareUpdateProgress = "firmwareUpdateProgress:percent:";
inline constexpr std::string_view bluetoothDiscoverComplete = "bluetoothDiscoverComplete:";
inline constexpr std::string_view bluetoothDeviceDiscovered = "bluetoothDeviceDiscovered:name:";
inline constexpr std::string_view bluetoothDeviceConnected = "bluetoothDeviceConnected:";
inline constexpr std::string_view bluetoothDeviceDisconnected = "bluetoothDeviceDisconnected:";
inline constexpr std::string_view bluetoothDeviceRequestedConnection =
    "bluetoothDeviceRequestedConnection:name:";
inline constexpr std::string_view bluetoothDevicePINCodeRequired = "bluetoothDevicePINCodeRequired:name:";
inline constexpr std::string_view bluetoothDevicePassKeySent = "bluetoothDevicePassKeySent:passKey:";
inline constexpr std::string_view magneticJISCardData = "magneticJISCardData:";
inline constexpr std::string_view magneticF2FCardData = "magneticF2FCardData:";
inline constexpr std::string_view rfCardDetected = "rfCardDetected:info:";
inline constexpr std::string_view rfCardRemoved = "rfCardRemoved:";
inline constexpr std::string_view deviceFeatureSupported = "deviceFeatureSupported:value:";
inline constexpr std::string_view smartCardInserted = "smartCardInserted:";
inline constexpr std::string_view smartCardRemoved = "smartCardRemoved:";
inline constexpr std::string_view PINEntryCompleteWithError = "PINEntryCompleteWithError:";
inline constexpr std::string_view paperStatus = "paperStatus:";
inline constexpr std::string_view sdkDebug = "sdkDebug:source:";
inline constexpr std::string_view emv2OnTransactionStarted = "emv2OnTransactionStarted";
inline constexpr std::string_view emv2OnUserInterfaceCode = "emv2OnUserInterfaceCode:status:holdTime:";
inline constexpr std::string_view emv2OnApplicationSelection = "emv2OnApplicationSelection:";
inline constexpr std::string_view emv2OnOnlineProcessing = "emv2OnOnlineProcessing:";
inline constexpr std::string_view emv2OnAppleVASProcessedWithResult = "emv2OnAppleVASProcessedWithResult:data:";
inline constexpr std::string_view emv2OnGoogleVASProcessedWithResult = "emv2OnGoogleVASProcessedWithResult:data:";
inline constexpr std::string_view emv2OnCardReadWithData = "emv2OnCardReadWithData:";
inline constexpr std::string_view emv2OnTransactionFinished = "emv2OnTransactionFinished:";
inline constexpr std::string_view emv2CardEventOnInterface = "emv2CardEventOnInterface:event:";
inline constexpr std::string_view emv2TipEntryCompletWithAmount = "emv2TipEntryCompletWithAmount:";
inline constexpr std::string_view emv2TipEntryFailedWithError = "emv2TipEntryFailedWithError:";
inline constexpr std::string_view bluetoothLEDeviceConnected = "bluetoothLEDeviceConnected:";
inline constexpr std::string_view bluetoothLEDeviceDisconnected = "bluetoothLEDeviceDisconnected:";
inline constexpr std::string_view bluetoothLEDeviceDiscovered = "bluetoothLEDeviceDiscovered:";
inline constexpr std::string_view bluetoothLEDiscoverCompletedWithError =
    "bluetoothLEDiscoverCompletedWithError:";
inline constexpr std::string_view TrelmoDeviceConnected = "TrelmoDeviceConnected:";
inline constexpr std::string_view TrelmoDeviceDisconnected = "TrelmoDeviceDisconnected:";
inline constexpr std::string_view TrelmoDataReceivedForDevice = "TrelmoDataReceivedForDevice:data:";
inline constexpr std::string_view TrelmoPortStatusChangedForDevice =
    "TrelmoPortStatusChangedForDevice:newStatus:";
inline constexpr std::string_view keyboardButtonPressed = "keyboardButtonPressed:vk:character:modifiers:";
inline constexpr std::string_view uhfTagDetected = "uhfTagDetected:epc:";
inline constexpr std::string_view pogEventDataForSolution = "pogEventDataForSolution:command:data:";
// The charging case's own connection callback (see OKTCDDelegate).
inline constexpr std::string_view toravelConnectionState = "toravelConnectionState:";
}  // namespace kxsel

using OptText = std::optional<std::string>;

class KXDeviceDelegate : public KXBarcodeDelegate {
 public:
  // Whether this delegate answers `selector` at the time of the call. The device API asks
  // this before each call, and acts on its own where nobody answers (an automatic EMV answer).
  // A delegate that only relays a callback to delegates of its own (the facade) answers as
  // they do now; every other delegate as `responds`.
  virtual bool respondsNow(std::string_view selector) const { return responds(selector); }

  // 1. 0 disconnected, 1 connecting, 2 connected.
  virtual void connectionState(int /*state*/) {}
  // 2, 3.
  virtual void deviceButtonPressed(int /*button*/) {}
  virtual void deviceButtonReleased(int /*button*/) {}
  // 4 to 7: the barcode forms, declared by KXBarcodeDelegate.
  // 8.
  virtual void magneticCardDetected() {}
  // 9. Absent tracks are nullopt.
  virtual void magneticCardData(const OptText& /*track1*/, const OptText& /*track2*/,
                                const OptText& /*track3*/) {}
  // 10, 11. `data` is nullopt when the driver gave none.
  virtual void magneticPassbookData(const std::optional<foundation::Bytes>& /*data*/) {}
  virtual void magneticCTDOTData(const foundation::Bytes& /*data*/) {}
  // 12.
  virtual void magneticCardData(const OptText& /*track1*/, const OptText& /*track2*/,
                                const OptText& /*track3*/, int /*source*/) {}
  // 13 to 15: card data encrypted by the head; `encryption` names the format.
  virtual void magneticCardEncryptedData(int /*encryption*/, int /*tracks*/,
                                         const foundation::Bytes& /*data*/) {}
  virtual void magneticCardEncryptedData(int /*encryption*/, int /*tracks*/,
                                         const foundation::Bytes& /*data*/,
                                         const OptText& /*track1masked*/,
                                         const OptText& /*track2masked*/,
                                         const OptText& /*track3*/) {}
  virtual void magneticCardEncryptedData(int /*encryption*/, int /*tracks*/,
                                         const foundation::Bytes& /*data*/,
                                         const OptText& /*track1masked*/,
                                         const OptText& /*track2masked*/,
                                         const OptText& /*track3*/, int /*source*/) {}
  // 16 to 19.
  virtual void magneticCardRawData(const foundation::Bytes& /*data*/) {}
  virtual void magneticCardEncryptedRawData(int /*encryption*/, const foundation::Bytes& /*data*/) {}
  virtual void magneticCardReadFailed(int /*source*/) {}
  virtual void magneticCardReadFailed(int /*source*/, int /*reason*/) {}
  // 20. Phase 0 start, 2 writing, 4 image accepted, 3 end.
  virtual void firmwareUpdateProgress(int /*phase*/, int /*percent*/) {}
  // 21 to 27: classic Bluetooth. 25 and 26 ask the delegate for an answer.
  virtual void bluetoothDiscoverComplete(bool /*success*/) {}
  virtual void bluetoothDeviceDiscovered(const std::string& /*address*/, const std::string& /*name*/) {}
  virtual void bluetoothDeviceConnected(const std::string& /*address*/) {}
  virtual void bluetoothDeviceDisconnected(const OptText& /*address*/) {}
  virtual bool bluetoothDeviceRequestedConnection(const std::string& /*address*/,
                                                  const std::string& /*name*/) {
    return false;
  }
  virtual OptText bluetoothDevicePINCodeRequired(const std::string& /*address*/,
                                                 const std::string& /*name*/) {
    return std::nullopt;
  }
  virtual void bluetoothDevicePassKeySent(const std::string& /*address*/, const std::string& /*passKey*/) {}
  // 28, 29.
  virtual void magneticJISCardData(const std::string& /*data*/) {}
  virtual void magneticF2FCardData(const std::string& /*data*/) {}
  // 30, 31.
  virtual void rfCardDetected(int /*cardIndex*/, const std::shared_ptr<KXRFCardInfo>& /*info*/) {}
  virtual void rfCardRemoved(int /*cardIndex*/) {}
  // 32.
  virtual void deviceFeatureSupported(int /*feature*/, int /*value*/) {}
  // 33 to 37.
  virtual void smartCardInserted(int /*slot*/) {}
  virtual void smartCardRemoved(int /*slot*/) {}
  // Nothing when the PIN was entered, else the pinpad's error.
  virtual void PINEntryCompleteWithError(const std::optional<foundation::Error>& /*error*/) {}
  virtual void paperStatus(bool /*present*/) {}
  virtual void sdkDebug(const std::string& /*text*/, int /*source*/) {}
  // 38 to 48: EMV kernel.
  virtual void emv2OnTransactionStarted() {}
  virtual void emv2OnUserInterfaceCode(int /*code*/, int /*status*/, double /*holdTime*/) {}
  virtual void emv2OnApplicationSelection(const foundation::Bytes& /*applicationTags*/) {}
  virtual void emv2OnOnlineProcessing(const foundation::Bytes& /*data*/) {}
  virtual void emv2OnAppleVASProcessedWithResult(int /*result*/, const foundation::Bytes& /*data*/) {}
  virtual void emv2OnGoogleVASProcessedWithResult(int /*result*/, const foundation::Bytes& /*data*/) {}
  virtual void emv2OnCardReadWithData(const foundation::Bytes& /*data*/) {}
  virtual void emv2OnTransactionFinished(const foundation::Bytes& /*data*/) {}
  virtual void emv2CardEventOnInterface(int /*interface*/, int /*event*/) {}
  virtual void emv2TipEntryCompletWithAmount(uint32_t /*amount*/) {}
  virtual void emv2TipEntryFailedWithError(const foundation::Error& /*error*/) {}
  // 49 to 52: Bluetooth Low Energy. 51 asks for an answer.
  virtual void bluetoothLEDeviceConnected(const std::shared_ptr<CBPeripheral>& /*peripheral*/) {}
  virtual void bluetoothLEDeviceDisconnected(const std::shared_ptr<CBPeripheral>& /*peripheral*/) {}
  virtual bool bluetoothLEDeviceDiscovered(const std::shared_ptr<CBPeripheral>& /*peripheral*/) {
    return false;
  }
  virtual void bluetoothLEDiscoverCompletedWithError(const std::optional<foundation::Error>& /*error*/) {}
  // 53 to 56: devices on the hub's ports.
  virtual void TrelmoDeviceConnected(const std::shared_ptr<TrelmoDevice>& /*device*/) {}
  virtual void TrelmoDeviceDisconnected(const std::shared_ptr<TrelmoDevice>& /*device*/) {}
  virtual void TrelmoDataReceivedForDevice(const std::shared_ptr<TrelmoDevice>& /*device*/,
                                           const foundation::Bytes& /*data*/) {}
  virtual void TrelmoPortStatusChangedForDevice(const std::shared_ptr<TrelmoDevice>& /*device*/,
                                                int /*status*/) {}
  // 57. `pressed` is true for a key press.
  virtual void keyboardButtonPressed(bool /*pressed*/, int /*vk*/, signed char /*character*/,
                                     int /*modifiers*/) {}
  // 58, 59.
  virtual void uhfTagDetected(uint16_t /*pc*/, const foundation::Bytes& /*epc*/) {}
  virtual void pogEventDataForSolution(int /*solution*/, int /*command*/,
                                       const foundation::Bytes& /*data*/) {}
};

// The facade's delegates implement the same protocol.
using OKTKXDeviceDelegate = KXDeviceDelegate;

// What the charging case tells its delegate (the facade).
class OKTCDDelegate {
 public:
  virtual ~OKTCDDelegate() = default;
  virtual void toravelConnectionState(int state) = 0;
  virtual void deviceButtonPressed(int button) = 0;
  virtual void deviceButtonReleased(int button) = 0;
  virtual void firmwareUpdateProgress(int phase, int percent) = 0;
};

}  // namespace kestra
