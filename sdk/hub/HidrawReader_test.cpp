// The hidraw back end: reports read from a descriptor reach the same reader drivers as hub
// ports. Always tested over a packet socket pair (one read, one report, as hidraw gives
// them); tested with a real hidraw node made through the kernel's uhid where the machine
// has it.
#include "sdk/hub/HidrawReader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/uhid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/foundation/RunLoop.h"
#include "sdk/hub/HubReaders.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"
#include "testing/devices/base/RecordingDelegate.h"
#include "testing/devices/hub/SimulatedHub.h"

namespace kestra {
namespace {

struct Readers final : HubReaderDelegate {
  std::shared_ptr<devices::CallRecorder> log = std::make_shared<devices::CallRecorder>();
  void connectionState(int s) override { log->add("state:" + std::to_string(s), true); }
  void kxdev_barcodeData(const Bytes& b) override { log->add("barcode:" + std::string(b.begin() + 1, b.end()), true); }
};

TEST(Hidraw, UeventIdentity) {
  struct Case {
    const char* uevent;
    bool ok;
    uint32_t vendor;
    const char* protocol;
  } cases[] = {
      {"HID_ID=0003:00000801:00000002\nHID_NAME=Swipe Reader\n", true, 0x0801, "com.magtek.msr"},
      {"HID_NAME=Scanner\nHID_ID=0003:00000C2E:00000B61\n", true, 0x0C2E, "hid.barcode"},
      {"HID_NAME=No id\n", false, 0, ""},
      {"HID_ID=zz\n", false, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uevent);
    HidrawDevice d;
    EXPECT_EQ(parseHidUevent(c.uevent, d), c.ok);
    EXPECT_EQ(d.vendor, c.vendor);
    EXPECT_EQ(d.protocol, c.protocol);
  }
}

// Types `text` and Enter as key and release reports into `fd`.
void type(int fd, const std::string& text) {
  const Bytes release(8, 0);
  for (char c : text + "\r") {
    auto r = devices::SimulatedHub::keyReport(c);
    ASSERT_TRUE(r);
    ASSERT_EQ(::write(fd, r->data(), r->size()), 8);
    ASSERT_EQ(::write(fd, release.data(), release.size()), 8);
  }
}

TEST(Hidraw, KeyboardScannerReportsReachTheBarcodeDriver) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv), 0);
  KXUNISDKCommRunLoop comm;
  auto readers = std::make_shared<Readers>();
  auto barcode = BarcodeHID::create();
  barcode->setDelegate(readers);
  HidrawDevice dev{"/dev/hidraw-test", "Scanner", 0x0C2E, 0x0B61, "hid.barcode"};
  auto reader = HidrawReader::open(dev, barcode, sv[0], &comm);
  ASSERT_TRUE(reader);
  ASSERT_TRUE(readers->log->waitForLine("state:2"));
  type(sv[1], "A-42");
  EXPECT_TRUE(readers->log->waitForLine("barcode:A-42"));
  ::close(sv[1]);  // unplugged
  EXPECT_TRUE(readers->log->waitForLine("state:1"));
  EXPECT_FALSE(reader->isOpen());
  reader.reset();
  foundation::RunLoop::main().runUntil([&] { return comm.requestCounter() == 0; }, std::chrono::milliseconds(20000));
}

TEST(Hidraw, DriverThatDeclinesGetsNothing) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv), 0);
  KXUNISDKCommRunLoop comm;
  HidrawDevice dev{"/dev/hidraw-test", "Reader", 0x0801, 2, "com.magtek.msr"};
  EXPECT_FALSE(HidrawReader::open(dev, BarcodeHID::create(), sv[0], &comm));
  ::close(sv[1]);
}

// A boot keyboard's report descriptor (HID 1.11, appendix B.1), input part only.
const uint8_t kKeyboardDescriptor[] = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x06, 0x75, 0x08,
    0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};

TEST(Hidraw, KernelUhidKeyboardThroughHidraw) {
  const int uhid = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (uhid < 0) GTEST_SKIP() << "the kernel's uhid is not available here (/dev/uhid: " << std::strerror(errno) << ")";
  uhid_event ev{};
  ev.type = UHID_CREATE2;
  std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name, "Kestra test scanner");
  ev.u.create2.rd_size = sizeof kKeyboardDescriptor;
  std::memcpy(ev.u.create2.rd_data, kKeyboardDescriptor, sizeof kKeyboardDescriptor);
  ev.u.create2.bus = 0x03;
  ev.u.create2.vendor = 0x1234;
  ev.u.create2.product = 0x5678;
  ASSERT_EQ(::write(uhid, &ev, sizeof ev), ssize_t(sizeof ev));
  std::optional<HidrawDevice> found;
  foundation::RunLoop::main().runUntil([&] {
    for (const auto& d : listHidrawDevices())
      if (d.name == "Kestra test scanner") found = d;
    return found.has_value();
  }, std::chrono::milliseconds(20000));
  if (!found) {
    ::close(uhid);
    GTEST_SKIP() << "uhid made no hidraw node (no hidraw support in this kernel)";
  }
  KXUNISDKCommRunLoop comm;
  auto readers = std::make_shared<Readers>();
  auto barcode = BarcodeHID::create();
  barcode->setDelegate(readers);
  auto reader = HidrawReader::open(*found, barcode, -1, &comm);
  ASSERT_TRUE(reader);
  for (char c : std::string("77\r")) {
    for (const Bytes& report : {*devices::SimulatedHub::keyReport(c), Bytes(8, 0)}) {
      uhid_event in{};
      in.type = UHID_INPUT2;
      in.u.input2.size = uint16_t(report.size());
      std::memcpy(in.u.input2.data, report.data(), report.size());
      ASSERT_EQ(::write(uhid, &in, sizeof in), ssize_t(sizeof in));
    }
  }
  EXPECT_TRUE(readers->log->waitForLine("barcode:77"));
  uhid_event destroy{};
  destroy.type = UHID_DESTROY;
  (void)::write(uhid, &destroy, sizeof destroy);
  EXPECT_TRUE(readers->log->waitForLine("state:1"));
  reader.reset();
  ::close(uhid);
}

}  // namespace
}  // namespace kestra
