#pragma once
// The device plug-ins: what the agent tells the management server about each accessory
// family. A member reads the device's state through the facade into a flat dictionary of
// texts (the details, sent with every check-in) and describes every value by a field record
// (sent in the plug-in header); configuration jobs address a value by the plug-in word, an
// underscore and the field key ("pellanPro_usbCurrent").
//
// Reading: only while the facade's connection state is 2 (connected); every value starts at
// the member's start text, a query's out-value starts at false/0 and is formatted whatever the
// query answered, a query answering nothing leaves the key's fallback text ("n/a"/"N/A"),
// and a query that throws stops the reading there: the values read stay, the rest keep their
// start texts. `getKXDeviceDetails` never fails. "lat"/"lng" come from the location service.
//
// The members read through `VexaPluginDevice`: by default the process's facade, fetched anew
// for every reading; tests give a device of their own. Thread-safe: the last details and
// fields (`deviceInfo`) are kept under a lock.

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "sdk/agent/OKTVexaPlugins.h"
#include "sdk/foundation/EMSRDeviceInfo.h"
#include "sdk/foundation/KXBatteryInfo.h"
#include "sdk/pinpad/KXPinpadInfo.h"

namespace kestra {

class OKTKXDevices;
class VexaLocator;

// The facade's queries that the device plug-ins make. `overFacade` forwards every one of
// them; a device of a test may leave queries out, and those answer nothing (or false).
class VexaPluginDevice {
 public:
  virtual ~VexaPluginDevice() = default;
  virtual int connstate() = 0;
  virtual std::optional<std::string> sdkVersionString() = 0;
  virtual std::optional<std::string> serialNumber() = 0;
  virtual std::optional<std::string> deviceName() = 0;
  virtual std::optional<std::string> deviceModel() = 0;
  virtual std::optional<std::string> firmwareRevision() = 0;
  virtual std::optional<std::string> hardwareRevision() = 0;
  virtual std::shared_ptr<KXBatteryInfo> getBatteryInfo() = 0;
  virtual bool getUSBChargeCurrent(int* current) = 0;
  virtual bool getCharging(bool* charging) = 0;
  virtual bool getPassThroughSync(bool* enabled) = 0;
  virtual bool barcodeGetScanMode(int* mode) = 0;
  virtual int getSupportedFeature(int feature) = 0;
  virtual std::optional<EMSRDeviceInfo> emsrGetDeviceInfo() { return std::nullopt; }
  virtual bool emsrIsTampered(bool* /*tampered*/) { return false; }
  virtual std::optional<EMSRKeysInfo> emsrGetKeysInfo() { return std::nullopt; }
  virtual bool getAutoOffWhenIdle(double* /*idleSeconds*/) { return false; }
  virtual std::optional<std::string> barcodeZebraGetVersion() { return std::nullopt; }
  virtual std::optional<foundation::Bytes> barcodeIntermecQuery(const foundation::Bytes& /*command*/) {
    return std::nullopt;
  }
  virtual std::optional<foundation::Bytes> barcodeNewlandQuery(const foundation::Bytes& /*command*/) {
    return std::nullopt;
  }
  virtual std::optional<std::string> barcodeOpticonGetIdent() { return std::nullopt; }
  virtual std::optional<std::string> barcodeCodeGetInformation() { return std::nullopt; }
  virtual bool getKioskMode(bool* /*enabled*/) { return false; }
  virtual bool uiIsSpeakerAutoControlEnabled(bool* /*enabled*/) { return false; }
  virtual bool uiIsSpeakerButtonEnabled(bool* /*enabled*/) { return false; }
  virtual bool uiIsSpeakerEnabled(bool* /*enabled*/) { return false; }
  // The pinpad's Bluetooth module; `error` is written only when the query reports one.
  virtual std::optional<std::string> btGetFirmwareVersion(foundation::Error* /*error*/) { return std::nullopt; }
  // Pinpad key slots; `error` is written only when the query reports one.
  virtual std::optional<KXKeyInfo> ppadGetKeyInfo(int /*position*/, foundation::Error* /*error*/) {
    return std::nullopt;
  }
  virtual std::optional<foundation::Bytes> ppadGetDUKPTKeyKSN(int /*slot*/, foundation::Error* /*error*/) {
    return std::nullopt;
  }

  // The queries above over `facade`.
  static std::shared_ptr<VexaPluginDevice> overFacade(OKTKXDevices& facade);
};

// What every member shares.
class VexaDeviceMember : public VexaKXDevicePlugin {
 public:
  std::string plugin() override { return plugin_; }
  std::string name() override { return name_; }
  std::string version() override { return version_; }
  nlohmann::json getKXDeviceDetails() override;
  nlohmann::json getKXDevicePluginData() override;
  std::optional<nlohmann::json> deviceInfo() override;
  virtual nlohmann::json getKXDeviceFields() = 0;

  // nullptr: the process's facade.
  void setKxDevice(std::shared_ptr<VexaPluginDevice> device);
  std::string keyForCheckIn(const std::string& key) const { return plugin_ + "_" + key; }
  nlohmann::json createField(const std::string& field, const std::string& name, const std::string& displayType,
                             int64_t order) const;
  nlohmann::json createField(const std::string& field, const std::string& name, const std::string& displayType,
                             int64_t order, bool configurable, const std::optional<std::string>& type,
                             const std::optional<std::string>& regEx, const std::optional<std::string>& values,
                             const std::optional<std::string>& min, const std::optional<std::string>& max) const;
  static std::string barcodeScanMode(int mode);

 protected:
  // A details key: its start text and its fallback when the value read is absent.
  struct Key {
    std::string key;
    std::string start;
    std::string fallback;
  };
  // A plain key (stored without prefix) copying a prefixed value.
  struct PlainKey {
    std::string key;
    std::string source;
    std::string fallback;
  };
  // Values by bare key; nothing = the query answered nothing.
  using Values = std::map<std::string, std::optional<std::string>>;

  VexaDeviceMember(std::string plugin, std::string name, std::string version, std::vector<Key> keys,
                   std::vector<PlainKey> plainKeys, VexaLocator* locator);
  // Reads the values in the member's order into `values`; may throw, leaving what it read.
  virtual void readValues(VexaPluginDevice& device, Values& values) = 0;
  // The identity texts every member reads first.
  static void readIdentity(VexaPluginDevice& device, Values& values);
  // The four values of the battery record; nothing read when there is none.
  static std::shared_ptr<KXBatteryInfo> readBattery(VexaPluginDevice& device, Values& values);
  static std::string yesNo(bool on) { return on ? "True" : "False"; }
  // The encrypted head: when it answers, its tamper state, its firmware and `keyReport`
  // (asked only then) under "keyVersion".
  static void readEmsr(VexaPluginDevice& device, Values& values,
                       const std::function<std::string(VexaPluginDevice&)>& keyReport);
  // The head's keys with a version: "-<name> ver: <version>" each.
  static std::string emsrKeyVersions(VexaPluginDevice& device);
  // The barcode engine's identification and the five feature values, in that order.
  static void readBarcodeAndSupports(VexaPluginDevice& device, Values& values);
  static std::string format(const char* pattern, auto... args) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
  }
  // One row of a field table: the long record when `type` is given (always configurable).
  struct FieldRow {
    const char* key;
    const char* name;
    const char* displayType;
    int64_t order;
    const char* type = nullptr;
    const char* values = nullptr;
    const char* min = nullptr;
    const char* max = nullptr;
  };
  nlohmann::json fieldsFrom(const std::vector<FieldRow>& rows) const;

  // The groups of keys and field rows the members share, joined with `joined`.
  template <class T>
  static std::vector<T> joined(std::initializer_list<std::vector<T>> groups) {
    std::vector<T> all;
    for (const auto& group : groups) all.insert(all.end(), group.begin(), group.end());
    return all;
  }
  // firmware, model, name, revision, sdk and serial.
  static std::vector<Key> identityKeys(const std::string& fallback);
  // emsrFirmware, keyVersion and tampered.
  static std::vector<Key> emsrKeys(const std::string& fallback);
  // The four battery values as the sleeves and the pinpads show them.
  static std::vector<Key> batteryKeys();
  // barcodeInfo and the five feature values.
  static std::vector<Key> supportKeys();
  // What every sleeve reads: identity, head, battery, the settings of `readSleeveSettings`, the features.
  static std::vector<Key> sleeveKeys(const std::string& fallback, bool backupCharge);
  // battery, firmware and tampered, as the sleeves copy them.
  static std::vector<PlainKey> sleevePlainKeys();
  // Each group numbered from `first` on.
  static std::vector<FieldRow> batteryFields(int64_t first, const char* levelDisplayType);
  static std::vector<FieldRow> identityFields(int64_t first, bool keyVersion);
  static std::vector<FieldRow> emsrFields(int64_t first);  // tampered, emsrFirmware
  static std::vector<FieldRow> sleeveSettingFields(int64_t first, const char* usbCurrents, bool backupCharge);
  static std::vector<FieldRow> supportFields(int64_t first);
  // Pass-through sync, USB current, the backup charge when asked, scan mode and the idle time off, in that order.
  static void readSleeveSettings(VexaPluginDevice& device, Values& values, bool backupCharge);

 private:
  std::shared_ptr<VexaPluginDevice> device();

  const std::string plugin_, name_, version_;
  const std::vector<Key> keys_;
  const std::vector<PlainKey> plainKeys_;
  VexaLocator* locator_;
  std::mutex mutex_;  // device_ and kxDeviceInfo_
  std::shared_ptr<VexaPluginDevice> device_;
  std::shared_ptr<const nlohmann::json> details_, fields_;  // the last read, and the last header's
};

// The barcode and card-reader sleeve.
class VexaPellanProDevice final : public VexaDeviceMember {
 public:
  explicit VexaPellanProDevice(VexaLocator* locator = nullptr);
  nlohmann::json getKXDeviceFields() override;
  // The engine's identification text (the barcodeInfo value).
  static std::string barcodeEngineInfo(VexaPluginDevice& device);

 private:
  void readValues(VexaPluginDevice& device, Values& values) override;
};

// The tablet sleeves (kiosk mode, no backup charge).
class VexaKestraTabDevice final : public VexaDeviceMember {
 public:
  explicit VexaKestraTabDevice(VexaLocator* locator = nullptr);
  nlohmann::json getKXDeviceFields() override;

 private:
  void readValues(VexaPluginDevice& device, Values& values) override;
};

// The sleeves with a speaker.
class VexaZizoriDDevice final : public VexaDeviceMember {
 public:
  explicit VexaZizoriDDevice(VexaLocator* locator = nullptr);
  nlohmann::json getKXDeviceFields() override;

 private:
  void readValues(VexaPluginDevice& device, Values& values) override;
};

// The pinpads.
class VexaSkyrigDevice final : public VexaDeviceMember {
 public:
  explicit VexaSkyrigDevice(VexaLocator* locator = nullptr);
  nlohmann::json getKXDeviceFields() override;
  // The ten key positions and the eight DUKPT key serial numbers, as one text.
  static std::string keyReport(VexaPluginDevice& device);

 private:
  void readValues(VexaPluginDevice& device, Values& values) override;
};

// The receipt printers.
class VexaVKPPrinterDevice final : public VexaDeviceMember {
 public:
  explicit VexaVKPPrinterDevice(VexaLocator* locator = nullptr);
  nlohmann::json getKXDeviceFields() override;

 private:
  void readValues(VexaPluginDevice& device, Values& values) override;
};

// The charging case.
class VexaToravelDevice final : public VexaDeviceMember {
 public:
  explicit VexaToravelDevice(VexaLocator* locator = nullptr);
  nlohmann::json getKXDeviceFields() override;

 private:
  void readValues(VexaPluginDevice& device, Values& values) override;
};

}  // namespace kestra
