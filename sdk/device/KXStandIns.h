#pragma once
// Stand-ins for the drivers that are not part of this build (printers, pinpad, serial
// adapter, hub and its port devices, Bluetooth Low Energy stream). Each reports no device:
// connection state 0, not connected, not present, no features; a command sent to one fails
// as the real driver fails without a device (false with -20 "No device connected", or the
// pinpad's status 16). They never call back.
//
// Threads: stateless; any thread.

#include <memory>

#include "sdk/device/KXDeviceDrivers.h"

namespace kestra {

class KXStandInPrinter final : public KXPrinterDriver {
 public:
  void attach(std::weak_ptr<KXDevices>) override {}
  int connstate() override { return 0; }
  void managedConnect() override {}
  void disconnect() override {}
  bool isPresent() override { return false; }
  bool beep(Error* error) override;
  std::optional<std::string> scanBarcode(double timeoutSeconds, int* type, Error* error) override;
};

class KXStandInPinpad final : public KXPinpadDriver {
 public:
  static constexpr int kNotConnected = 16;
  void attach(std::weak_ptr<KXDevices>) override {}
  int connstate() override { return 0; }
  void managedConnect() override {}
  void disconnect() override {}
  bool isPresent() override { return false; }
  int msStart() override { return kNotConnected; }
  int msStop() override { return kNotConnected; }
  int msSimulateCardData(const std::optional<std::string>&, const std::optional<std::string>&,
                         const std::optional<std::string>&) override {
    return kNotConnected;
  }
  int msGetLoyaltyNumber(int, Bytes*) override { return kNotConnected; }
  std::optional<nlohmann::json> msGetLastCardMaskedData(Error* error) override;
  int msUniversalGetEncryptedCardData(int, int, const Bytes&, Bytes*) override { return kNotConnected; }
  int barStart() override { return kNotConnected; }
  int barStop() override { return kNotConnected; }
  int barGetScanMode(int*) override { return kNotConnected; }
  int barSetScanMode(int) override { return kNotConnected; }
  int barSetScanBeep(bool, int, const int*, int) override { return kNotConnected; }
  int sysGetEnabledEvents(uint32_t*) override { return kNotConnected; }
  int sysEnableEvents(uint32_t) override { return kNotConnected; }
  int sysPlaySound(const int*, int, int) override { return kNotConnected; }
};

class KXStandInStream final : public KXSerialAdapterDriver {
 public:
  void attach(std::weak_ptr<KXDevices>) override {}
  bool connected() override { return false; }
};

class KXStandInBLEStream final : public KXBLEStreamDriver {
 public:
  void attach(std::weak_ptr<KXDevices>) override {}
  bool linkOpen() override { return false; }
  void close() override {}
};

// The error of a command sent to a driver without a device.
Error noDeviceError();

}  // namespace kestra
