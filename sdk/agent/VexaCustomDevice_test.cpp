// A device the host describes itself: its keys, values pulled at every reading, and its header.
#include "sdk/agent/VexaCustomDevice.h"

#include <gtest/gtest.h>

#include "sdk/agent/AgentTestSupport.h"
#include "sdk/foundation/KXBase64.h"

namespace kestra::agenttest {
namespace {

using nlohmann::json;

class CustomDevices : public AgentTest {};

TEST_F(CustomDevices, ValuesArePulledAtEveryReadingUnderTheirCheckInKeys) {
  std::atomic<int> battery{80};
  int weighed = 0;
  auto scale = VexaCustomDevice::create("Scale X1", "SX-1", "scale", "Weighing Co", "ab-12", [&] { return battery.load(); },
                                        [] { return std::string("4.2.0"); }, locator_.get());
  ASSERT_TRUE(scale);
  EXPECT_EQ(scale->pluginName(), "scale x1");
  EXPECT_EQ(scale->deviceSerial(), "AB-12");
  scale->setDeviceValueWithBlock([&] { return json(std::to_string(++weighed) + " kg"); }, "Tare_Weight 2", "Tare");

  json details = scale->getCustomDeviceDetails();
  EXPECT_EQ(details, json({{"scale x1_batteryLevel", "80"},
                           {"scale x1_firmware", "4.2.0"},
                           {"scale x1_Tare-Weight2", "1 kg"},
                           {"firmware", "4.2.0"},
                           {"battery", "80"},
                           {"lat", "0.000000"},
                           {"lng", "0.000000"}}));
  battery = 15;
  details = scale->getCustomDeviceDetails();
  EXPECT_EQ(details["scale x1_batteryLevel"], "15");
  EXPECT_EQ(details["scale x1_Tare-Weight2"], "2 kg");

  const auto header = scale->getCustomDevicePluginData();
  ASSERT_TRUE(header);
  EXPECT_EQ((*header)["payload"]["version"], "1.0.0");
  EXPECT_EQ((*header)["payload"]["plugin"], "scale x1");
  EXPECT_EQ((*header)["payload"]["name"], "Scale X1");
  EXPECT_EQ((*header)["payload"]["image"], "");
  EXPECT_EQ((*header)["payload"]["thumbnail"], "");
  const json& fields = (*header)["payload"]["fields"];
  ASSERT_EQ(fields.size(), 3u);
  for (size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i]["order"], std::to_string(i));
    EXPECT_EQ(fields[i]["displayType"], "string");
  }
  EXPECT_EQ(fields[2], json({{"field", "scale x1_firmware"}, {"name", "Device Firmware"}, {"displayType", "string"},
                             {"order", "2"}}));
}

TEST_F(CustomDevices, ImagesTravelAsBase64AndFunctionsAreRequired) {
  EXPECT_EQ(VexaCustomDevice::create("A", "B", "C", "D", "E", nullptr, [] { return std::string(); }), nullptr);
  auto device = VexaCustomDevice::create("Pad", "P", "pad", "M", "s", [] { return 1; }, [] { return std::string("1"); },
                                         locator_.get());
  const foundation::Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46};
  device->setDeviceImage(jpeg, std::nullopt);
  device->setPluginVersionMajor(1, 2, 3);
  const auto header = *device->getCustomDevicePluginData();
  EXPECT_EQ(header["payload"]["version"], "1.2.3");
  EXPECT_EQ(header["payload"]["thumbnail"], "");
  EXPECT_EQ(header["payload"]["image"], "/9j/4AAQSkY=");
  EXPECT_EQ(KXBase64::decodeBase64WithString(header["payload"]["image"].get<std::string>()), jpeg);
}

}  // namespace
}  // namespace kestra::agenttest
