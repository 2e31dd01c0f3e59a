#pragma once
// ProtocolControl: the charging case's control protocol on "com.okt.toravel.controls". It
// writes the 8-byte commands (initialize, LEDs, output current, inquiry), reads the case's
// 8-byte replies out of the shared session's read buffer, keeps the last values the case
// reported and announces each reply by a notification whose object is this
// `ProtocolControl` (values are stored before the notification goes out, so an observer
// reads the new values through the getters).
//
// Owned by the case device (`OKTCD`); runs on the thread whose run loop serves the
// session. Bad input: bytes before a message start are skipped, unknown identifiers are
// consumed and ignored; there is no checksum to check.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sdk/device/ChargingCaseFrames.h"
#include "sdk/device/OKTEADSessionController.h"

namespace kestra {

inline constexpr const char* kCaseControlProtocol = "com.okt.toravel.controls";
using chargingcase::CaseReportedValues;
using chargingcase::kDemo1ReceivedAccessoryInformation;
using chargingcase::kDemo1ReceivedBatteryAuxInformation;
using chargingcase::kDemo1ReceivedBatteryCapacity;
using chargingcase::kDemo1ReceivedBatteryHealth;
using chargingcase::kDemo1ReceivedSwitchPositions;
// `sendCommand` when no session is open.
inline constexpr int kControlNoSession = 5;

class ProtocolControl {
 public:
  explicit ProtocolControl(std::shared_ptr<OKTEADSessionController> controller = nullptr);
  ~ProtocolControl();
  ProtocolControl(const ProtocolControl&) = delete;
  ProtocolControl& operator=(const ProtocolControl&) = delete;

  const std::shared_ptr<OKTEADSessionController>& eaSessionController();

  // A session-open result (EADSessionResult).
  int openSession();
  void closeSession();
  bool isSessionOpen();

  // 0 when written, `kControlNoSession` when no session is open (nothing is written).
  int sendCommand(const Bytes& data, uint8_t command);
  int sendInitialize();
  int sendLEDs(int mask);
  int sendCurrent(uint16_t milliamps);
  int sendInquiry(int code);

  std::string getAccessoryName();
  std::string getAccessoryManufacturer();
  std::string getAccessoryModel();
  std::string getAccessoryHardwareRevision();
  // Without any "v".
  std::string getAccessoryFirmwareRevision();
  // The case's serial: the first 15 characters of the accessory's serial text.
  std::optional<std::string> getAccessorySerialNumber();
  // The battery's serial: the up to 15 characters after the case's.
  std::optional<std::string> getStrBatterySerialNumber();

  const CaseReportedValues& values() const { return values_; }
  int getPIM() const { return values_.pim; }
  int getSwitchPositions() const { return values_.switchPositions; }
  int getPotentiometer() const { return values_.potentiometer; }
  int getBatteryCapacity() const { return values_.batteryCapacity; }
  int getBatteryHealth() const { return values_.batteryHealth; }
  int getBatteryVoltage() const { return values_.batteryVoltage; }
  int getBatteryChargeCount() const { return values_.batteryChargeCount; }
  int getBatteryMaxCapacity() const { return values_.batteryMaxCapacity; }
  int getBatteryInquiry() const { return values_.batteryInquiry; }
  float getTemperature() const { return values_.temperature; }

  std::string getStrBatteryMaxCapacity() const;
  std::string getStrBatteryCapacity() const;
  std::string getStrBatteryHealth() const;
  std::string getStrBatteryVoltage() const;
  std::string getStrBatteryChargeCount() const;
  std::string getStrBatteryInquiry() const;
  std::string getStrBatteryFirmwareVer() const;
  // "Not Charging", "Charging" or "".
  std::string getStrPowerSource() const;

 private:
  void sessionDataReceived();

  std::shared_ptr<OKTEADSessionController> controller_;
  CaseReportedValues values_;
};

}  // namespace kestra
