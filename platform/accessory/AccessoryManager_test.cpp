#include "platform/accessory/AccessoryManager.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/accessory/Session.h"
#include "platform/foundation/RunLoop.h"

namespace accessory {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path makeTempDir() {
  std::string tmpl = (fs::temp_directory_path() / "kestra-accessory-XXXXXX").string();
  return fs::path(mkdtemp(tmpl.data()));
}

bool pumpUntil(const std::function<bool()>& c) { return foundation::RunLoop::main().runUntil(c, 3000ms); }

int listenAt(const fs::path& p) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, p.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(fd, 4);
  return fd;
}

void writeFile(const fs::path& p, const std::string& text) {
  std::string name = ".";
  name += p.filename().string();
  name += ".tmp";
  fs::path tmp = p.parent_path() / name;
  std::ofstream(tmp) << text;
  fs::rename(tmp, p);
}

// Observes the registry's notifications and its accessories' detach callbacks.
struct Watcher : AccessoryDelegate, std::enable_shared_from_this<Watcher> {
  explicit Watcher(AccessoryManager& r) : registry(r) {
    auto& c = foundation::NotificationCenter::defaultCenter();
    c.addObserver(this, kAccessoryDidConnectNotification, &registry, [this](const auto& n) {
      connected.push_back(n.userInfo[kAccessoryKey]["name"].template get<std::string>());
      if (auto a = registry.accessoryFromNotification(n)) a->setDelegate(weak_from_this());
    });
    c.addObserver(this, kAccessoryDidDisconnectNotification, &registry, [this](const auto& n) {
      disconnected.push_back(n.userInfo[kAccessoryKey]["name"].template get<std::string>());
    });
  }
  ~Watcher() override { foundation::NotificationCenter::defaultCenter().removeObserver(this); }
  void accessoryDidDisconnect(const std::shared_ptr<Accessory>& a) override {
    told.push_back(a->name());
    toldWhileConnected = toldWhileConnected || a->isConnected();
  }
  AccessoryManager& registry;
  std::vector<std::string> connected, disconnected, told;
  bool toldWhileConnected = false;
};

TEST(AccessoryManagerTest, SocketAccessoriesComeAndGoWithTheirDescriptors) {
  fs::path dir = makeTempDir();
  AccessoryManager registry(dir);
  registry.registerForLocalNotifications();
  auto watcher = std::make_shared<Watcher>(registry);

  int good = listenAt(dir / "sleeve.sock");
  int other = listenAt(dir / "broken.sock");
  writeFile(dir / "broken.json", "{\"name\": 42}");  // wrong type: skipped
  writeFile(dir / "stale.json", R"({"name":"Gone","protocolStrings":["p"]})");  // no socket
  writeFile(dir / "sleeve.json", R"({"name":"Pellan PX4","manufacturer":"Sabrel","modelNumber":"PX4",
      "serialNumber":"S1","firmwareRevision":"2.63","hardwareRevision":"1.0",
      "protocolStrings":["com.sabrel.pellan.pro.bar","com.sabrel.pellan.pro.msr"]})");
  ASSERT_TRUE(pumpUntil([&] { return watcher->connected.size() == 1; }));
  auto list = registry.connectedAccessories();
  ASSERT_EQ(list.size(), 1u);
  const auto a = list[0];
  EXPECT_EQ(a->name(), "Pellan PX4");
  EXPECT_EQ(a->modelNumber(), "PX4");
  EXPECT_EQ(a->protocolStrings(), (std::vector<std::string>{"com.sabrel.pellan.pro.bar",
                                                            "com.sabrel.pellan.pro.msr"}));
  EXPECT_TRUE(a->isConnected());
  EXPECT_EQ(watcher->connected, std::vector<std::string>{"Pellan PX4"});

  // A session names its protocol string and opens on the accept byte.
  EXPECT_EQ(Session::open(a, "com.other"), nullptr);
  auto session = Session::open(a, "com.sabrel.pellan.pro.msr");
  ASSERT_NE(session, nullptr);
  int conn = ::accept(good, nullptr, nullptr);
  char request[64] = {};
  ASSERT_GT(::read(conn, request, sizeof request), 0);
  EXPECT_STREQ(request, "com.sabrel.pellan.pro.msr\n");

  // A descriptor of a process that has gone is ignored (a pid above any pid_max), and so is
  // one whose pid no process can have.
  int ghost = listenAt(dir / "ghost.sock");
  writeFile(dir / "ghost.json", R"({"name":"Ghost","protocolStrings":["p"],"pid":2147483000})");
  std::vector<int> impossible;
  for (const char* pid : {"4294967295", "0", "-1", "18446744073709551615"}) {
    const std::string id = std::string("impossible") + std::to_string(impossible.size());
    impossible.push_back(listenAt(dir / (id + ".sock")));
    writeFile(dir / (id + ".json"), std::string(R"({"name":"Impossible","protocolStrings":["p"],"pid":)") + pid + "}");
  }

  fs::remove(dir / "sleeve.json");
  ASSERT_TRUE(pumpUntil([&] { return watcher->disconnected.size() == 1; }));
  EXPECT_TRUE(registry.connectedAccessories().empty());
  EXPECT_FALSE(a->isConnected());
  EXPECT_FALSE(registry.isAttached(a));
  EXPECT_EQ(watcher->told, std::vector<std::string>{"Pellan PX4"});
  EXPECT_FALSE(watcher->toldWhileConnected);
  EXPECT_EQ(Session::open(a, "com.sabrel.pellan.pro.bar"), nullptr);

  // Re-attaching makes a new accessory object with a new connection id.
  writeFile(dir / "sleeve.json", R"({"name":"Pellan PX4","protocolStrings":["com.sabrel.pellan.pro.bar"]})");
  ASSERT_TRUE(pumpUntil([&] { return watcher->connected.size() == 2; }));
  auto again = registry.connectedAccessories();
  ASSERT_EQ(again.size(), 1u);
  EXPECT_NE(again[0]->connectionID(), a->connectionID());

  for (int fd : {good, other, ghost, conn}) ::close(fd);
  for (int fd : impossible) ::close(fd);
  fs::remove_all(dir);
}

TEST(AccessoryManagerTest, ADescriptorWithANewInstanceIsANewAccessoryEvenOnTheSameFiles) {
  // A quick detach and re-attach can bring back the very inode numbers; the instance text
  // the device writes on each attach still tells the two apart.
  fs::path dir = makeTempDir();
  AccessoryManager registry(dir);
  registry.registerForLocalNotifications();
  auto watcher = std::make_shared<Watcher>(registry);
  int fd = listenAt(dir / "sleeve.sock");
  auto writeInPlace = [&](const std::string& instance) {
    std::ofstream(dir / "sleeve.json", std::ios::trunc)
        << R"({"name":"Pellan PX4","protocolStrings":["p"],"instance":")" + instance + "\"}";
  };
  writeInPlace("first");
  ASSERT_TRUE(pumpUntil([&] { return watcher->connected.size() == 1; }));
  writeInPlace("second");
  ASSERT_TRUE(pumpUntil([&] { return watcher->connected.size() == 2; }));
  EXPECT_EQ(watcher->disconnected, std::vector<std::string>{"Pellan PX4"});
  EXPECT_EQ(registry.connectedAccessories().size(), 1u);
  ::close(fd);
  fs::remove_all(dir);
}

TEST(AccessoryManagerTest, NotificationsArePostedOnlyWhileRegistered) {
  fs::path dir = makeTempDir();
  AccessoryManager registry(dir);
  auto watcher = std::make_shared<Watcher>(registry);
  int fd = listenAt(dir / "p.sock");
  writeFile(dir / "p.json", R"({"name":"Printer DP-2","protocolStrings":["com.sabrel.printer.plain"]})");
  ASSERT_TRUE(pumpUntil([&] { return registry.connectedAccessories().size() == 1; }));
  foundation::RunLoop::main().runUntil([] { return false; }, 50ms);
  EXPECT_TRUE(watcher->connected.empty());
  registry.registerForLocalNotifications();
  fs::remove(dir / "p.json");
  ASSERT_TRUE(pumpUntil([&] { return watcher->disconnected.size() == 1; }));
  ::close(fd);
  fs::remove_all(dir);
}

TEST(AccessoryManagerTest, SerialAccessoryFollowsItsDeviceAndCarriesBytes) {
  fs::path dir = makeTempDir();
  fs::path devDir = dir / "dev";
  fs::create_directories(devDir);
  int master = -1, slave = -1;
  char slaveName[128];
  ASSERT_EQ(openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
  fs::path config = dir / "serial-accessories.json";
  nlohmann::json j = {{"accessories",
                       {{{"name", "Printer DP-2"},
                         {"modelNumber", "DP-2"},
                         {"protocolStrings", {"com.sabrel.printer.plain"}},
                         {"devices", {(devDir / "ttyKX0").string()}},
                         {"baudRate", 115200}}}}};
  std::ofstream(config) << j.dump();

  AccessoryManager registry(dir / "accessories", config);
  EXPECT_TRUE(registry.connectedAccessories().empty());  // the device is not plugged in

  fs::create_symlink(slaveName, devDir / "ttyKX0");  // plugged in
  ASSERT_TRUE(pumpUntil([&] { return registry.connectedAccessories().size() == 1; }));
  auto a = registry.connectedAccessories()[0];
  EXPECT_EQ(a->endpoint().kind, AccessoryEndpoint::Kind::Serial);

  auto session = Session::open(a, "com.sabrel.printer.plain");
  ASSERT_NE(session, nullptr);
  auto in = session->inputStream();
  auto out = session->outputStream();
  in->open();
  out->open();
  EXPECT_EQ(out->status(), StreamStatus::Open);  // no handshake on a serial port
  const uint8_t cmd[] = {0x1B, 0x40};
  EXPECT_EQ(out->write(cmd, 2), 2);
  uint8_t got[2] = {};
  ASSERT_EQ(::read(master, got, 2), 2);
  EXPECT_EQ(got[0], 0x1B);
  EXPECT_EQ(got[1], 0x40);

  fs::remove(devDir / "ttyKX0");  // unplugged
  ASSERT_TRUE(pumpUntil([&] { return registry.connectedAccessories().empty(); }));
  EXPECT_FALSE(a->isConnected());
  in->close();
  out->close();
  ::close(master);
  ::close(slave);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace accessory
