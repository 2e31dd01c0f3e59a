#include "sdk/device/HubDevices.h"

#include "sdk/device/KXDevices.h"
#include "sdk/hub/CarvikStream.h"
#include "sdk/hub/HubPort.h"
#include "sdk/hub/HubReaders.h"
#include "sdk/hub/USBManager.h"

namespace kestra {

namespace {

class HubEvents final : public HubControlDelegate {
 public:
  std::weak_ptr<KXDevices> api;
  void TrelmoConnected() override {
    if (auto a = api.lock()) a->TrelmoConnected();
  }
  void TrelmoDisconnected() override {
    if (auto a = api.lock()) a->TrelmoDisconnected();
  }
  void TrelmoDeviceConnected(const std::shared_ptr<TrelmoDevice>& device) override {
    if (auto a = api.lock()) a->TrelmoDeviceConnected(device);
  }
  void TrelmoDeviceDisconnected(const std::shared_ptr<TrelmoDevice>& device) override {
    if (auto a = api.lock()) a->TrelmoDeviceDisconnected(device);
  }
  void firmwareUpdateProgress(int phase, int percent) override {
    if (auto a = api.lock()) a->firmwareUpdateProgress(phase, percent);
  }
};

nlohmann::json firmwareRecord(const std::string& model, const std::string& name, const std::string& revision,
                              int number) {
  return {{"deviceModel", model}, {"deviceName", name}, {"firmwareRevision", revision},
          {"firmwareRevisionNumber", number}};
}

class HubDriver final : public KXStreamDriver {
 public:
  explicit HubDriver(std::shared_ptr<USBManager> m) : manager_(std::move(m)), events_(std::make_shared<HubEvents>()) {
    manager_->setControlDelegate(events_);
  }
  void attach(std::weak_ptr<KXDevices> api) override { events_->api = std::move(api); }
  std::shared_ptr<AccessoryManagerDelegate> accessoryDriver() override { return manager_; }
  std::string deviceName() override { return manager_->deviceName(); }
  std::string deviceModel() override { return manager_->deviceModel(); }
  std::string firmwareRevision() override { return manager_->firmwareRevision(); }
  std::string hardwareRevision() override { return manager_->hardwareRevision(); }
  std::string serialNumber() override { return manager_->serialNumber(); }
  int getSupportedFeature(int feature, Error* error) override { return manager_->getSupportedFeature(feature, error); }
  bool connected() override { return manager_->connected(); }
  void disconnect() override { manager_->disconnect(); }
  bool isPresent() override { return manager_->connected(); }
  std::optional<nlohmann::json> getFirmwareFileInformation(const Bytes& data, Error* error) override {
    const auto info = manager_->getFirmwareFileInformation(data, error);
    if (!info) return std::nullopt;
    return firmwareRecord(info->deviceModel, info->deviceName, info->firmwareRevision, info->firmwareRevisionNumber);
  }
  bool updateFirmwareData(const Bytes& data, bool validate, Error* error) override {
    return manager_->updateFirmwareData(data, validate, error);
  }
  std::shared_ptr<TrelmoDevice> getPortDeviceFormPort(int port, Error* error) override {
    return manager_->getPortDeviceFormPort(port, error);
  }
  std::optional<std::vector<TrelmoPortInfo>> getPortsInfo(Error* error) override { return manager_->getPortsInfo(error); }
  bool setPortConfig(const std::string& config, int port, bool recreateConnection, Error* error) override {
    return manager_->setPortConfig(config, port, recreateConnection, error);
  }
  bool setUSBCharge(bool on, int port, Error* error) override { return manager_->setUSBCharge(on, port, error); }
  bool setAppleCharge(int current, Error* error) override { return manager_->setAppleCharge(current, error); }
  bool getAppleCharge(int* current, Error* error) override { return manager_->getAppleCharge(current, error); }
  bool setSerial(const std::string& serial, Error* error) override { return manager_->setSerial(serial, error); }

 private:
  std::shared_ptr<USBManager> manager_;
  std::shared_ptr<HubEvents> events_;
};

class ReaderEvents final : public HubReaderDelegate {
 public:
  std::weak_ptr<KXDevices> api;
  void connectionState(int state) override {
    if (auto a = api.lock()) a->connectionState(state);
  }
  void kxdev_barcodeData(const Bytes& barcode) override {
    if (auto a = api.lock()) a->kxdev_barcodeData(barcode);
  }
  void magneticCardData(const OptTrack& t1, const OptTrack& t2, const OptTrack& t3) override {
    if (auto a = api.lock()) a->magneticCardData(t1, t2, t3);
  }
  void keyboardButtonPressed(bool pressed, int vk, signed char c, int mods) override {
    if (auto a = api.lock()) a->keyboardButtonPressed(pressed, vk, c, mods);
  }
};

class ReaderDriver final : public KXStreamDriver {
 public:
  explicit ReaderDriver(std::shared_ptr<HubReader> r) : reader_(std::move(r)), events_(std::make_shared<ReaderEvents>()) {
    reader_->setDelegate(events_);
  }
  void attach(std::weak_ptr<KXDevices> api) override { events_->api = std::move(api); }
  int getSupportedFeature(int feature, Error* error) override { return reader_->getSupportedFeature(feature, error); }
  bool connected() override { return reader_->connected(); }
  bool isPresent() override { return reader_->connected(); }
  std::optional<TrelmoUSBDeviceDescriptor> usbDeviceDescriptor() override { return reader_->usbDeviceDescriptor(); }

 private:
  std::shared_ptr<HubReader> reader_;
  std::shared_ptr<ReaderEvents> events_;
};

class AdapterEvents final : public CarvikControlDelegate {
 public:
  std::weak_ptr<KXDevices> api;
  void carvikConnected() override {
    if (auto a = api.lock()) a->carvikConnected();
  }
  void carvikDisconnected() override {
    if (auto a = api.lock()) a->carvikDisconnected();
  }
  // The radio's discovery and links, passed on as the other modules' are.
  void bluetoothDeviceDiscovered(const std::string& address, const std::string& name) override {
    if (auto a = api.lock()) a->bluetoothDeviceDiscovered(address, name);
  }
  void bluetoothDiscoverComplete(bool success) override {
    if (auto a = api.lock()) a->bluetoothDiscoverComplete(success);
  }
  void bluetoothDeviceDisconnected() override {
    if (auto a = api.lock()) a->bluetoothDeviceDisconnected(std::nullopt);
  }
  void firmwareUpdateProgress(int phase, int percent) override {
    if (auto a = api.lock()) a->firmwareUpdateProgress(phase, percent);
  }
};

class AdapterDriver final : public KXSerialAdapterDriver {
 public:
  explicit AdapterDriver(std::shared_ptr<CarvikStream> s) : stream_(std::move(s)), events_(std::make_shared<AdapterEvents>()) {
    stream_->setControlDelegate(events_);
  }
  void attach(std::weak_ptr<KXDevices> api) override { events_->api = std::move(api); }
  std::shared_ptr<AccessoryManagerDelegate> accessoryDriver() override { return stream_; }
  std::string deviceName() override { return stream_->deviceName(); }
  std::string deviceModel() override { return stream_->deviceModel(); }
  std::string firmwareRevision() override { return stream_->firmwareRevision(); }
  std::string hardwareRevision() override { return stream_->hardwareRevision(); }
  std::string serialNumber() override { return stream_->serialNumber(); }
  int getSupportedFeature(int feature, Error* error) override { return stream_->getSupportedFeature(feature, error); }
  bool connected() override { return stream_->connected(); }
  void disconnect() override { stream_->disconnect(); }
  bool isPresent() override { return stream_->connected(); }
  bool serialSupported() override { return stream_->serialSupported(); }
  bool serialSetSettings(int baud, int parity, int dataBits, int stopBits, int flowControl, Error* error) override {
    return stream_->serialSetSettings(baud, parity, dataBits, stopBits, flowControl, error);
  }
  bool serialConnect(Error* error) override { return stream_->serialConnect(error); }
  std::optional<nlohmann::json> getFirmwareFileInformation(const Bytes& data, Error* error) override {
    const auto info = stream_->getFirmwareFileInformation(data, error);
    if (!info) return std::nullopt;
    return firmwareRecord(info->deviceModel, info->deviceName, info->firmwareRevision, info->firmwareRevisionNumber);
  }
  // The adapter's update always checks its file.
  bool updateFirmwareData(const Bytes& data, bool /*validate*/, Error* error) override {
    return stream_->updateFirmwareData(data, error);
  }
  CarvikStream* linkAdapter() override { return stream_.get(); }

 private:
  std::shared_ptr<CarvikStream> stream_;
  std::shared_ptr<AdapterEvents> events_;
};

}  // namespace

std::shared_ptr<KXSerialAdapterDriver> makeSerialAdapterDriver(std::shared_ptr<CarvikStream> stream) {
  return std::make_shared<AdapterDriver>(std::move(stream));
}

std::shared_ptr<KXStreamDriver> makeHubDriver(std::shared_ptr<USBManager> manager) {
  return std::make_shared<HubDriver>(std::move(manager));
}

std::shared_ptr<KXStreamDriver> makeHubReaderDriver(std::shared_ptr<HubReader> reader,
                                                    const std::shared_ptr<USBManager>& manager) {
  manager->setDelegate(reader);
  return std::make_shared<ReaderDriver>(std::move(reader));
}

}  // namespace kestra
