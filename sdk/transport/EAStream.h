#pragma once
// The byte pipe to one accessory: one session per claimed protocol string (a channel, at
// most eight), each with a fixed 4,112-byte receive buffer. The accessory manager makes it
// (EAManager.h) and hands it to the driver that claimed the accessory, which then owns the
// conversation.
//
// Receiving (common run-loop thread): the stream reads into the channel's buffer after the
// bytes it already holds and offers everything held to the driver's `accessoryData`; the
// driver returns how many leading bytes it consumed (whole messages), the rest stays at
// the front and is offered again together with the next bytes. A driver that consumes
// nothing while the buffer is full stalls that channel until it consumes.
//
// Writing (`write`, any thread; on the run-loop thread a full link holds up every stream
// until it drains or times out): synchronous; writes on all channels are serialised. It
// fails when the accessory is gone, the channel is not open or out of range, or when
// `kWriteNoProgressTimeout` (3 s of the `Clock`) passes without a byte accepted. Writing
// 0 bytes succeeds without touching the link.
//
// Detach: when the accessory goes away (or a channel reports end of stream) the stream
// tells its manager, then disconnects on the global queue. `disconnect` tells the driver
// (`accessoryDisconnected`, on the main queue, once) before it closes the sessions, and
// holds no lock while it waits for that callback. It may be called more than once.
//
// Lifetime: the stream is shared (`std::shared_ptr`): the manager's list and the driver
// hold it. Its driver (`delegate`) and manager are held weakly.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/accessory/Accessory.h"
#include "platform/accessory/Session.h"
#include "platform/accessory/Stream.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"

namespace kestra {

class AccessoryManagerDelegate;
class KXUNISDKCommRunLoop;
class EAStream;

// Whoever made the stream and keeps it in a list: told when the stream detaches.
class EAStreamManagerDelegate {
 public:
  virtual ~EAStreamManagerDelegate() = default;
  virtual void accessoryDisconnected(const std::shared_ptr<EAStream>& stream) = 0;
};

class EAStream : public accessory::StreamDelegate,
                 public accessory::AccessoryDelegate,
                 public std::enable_shared_from_this<EAStream> {
 public:
  static constexpr int kMaxChannels = 8;
  static constexpr int kReceiveBufferSize = 4112;
  static constexpr int kConnectAttempts = 2;
  static constexpr foundation::Duration kOpenTimeout = std::chrono::seconds(1);
  static constexpr foundation::Duration kRetryPause = std::chrono::milliseconds(500);
  static constexpr foundation::Duration kWriteNoProgressTimeout = std::chrono::seconds(3);
  // Pause after every write pass that did not finish the data.
  static constexpr std::chrono::milliseconds kWritePassPause{10};
  // The longest `disconnect` waits for the driver's callback on the main queue.
  static constexpr foundation::Duration kDisconnectNoticeTimeout = std::chrono::seconds(5);

  // Opens a session per channel (at most the first eight) on `commRunLoop` (the shared
  // thread by default) and waits until all are open, in up to two attempts. Returns
  // nullptr when that fails; the stream then holds nothing and is not registered with the
  // run-loop thread. Blocks for up to about 2 x (channels x 1 s) + 2 x 0.5 s; never call it
  // on the run-loop thread or the main thread.
  static std::shared_ptr<EAStream> initWithAccessory(
      std::shared_ptr<accessory::Accessory> accessory, const std::vector<std::string>& channels,
      std::weak_ptr<EAStreamManagerDelegate> managerDelegate,
      KXUNISDKCommRunLoop* commRunLoop = nullptr);

  ~EAStream() override;

  // Writes all `length` bytes to `channel` (0..7). See the header comment.
  virtual bool write(int channel, const uint8_t* data, size_t length);
  bool write(int channel, const foundation::Bytes& data) {
    return write(channel, data.data(), data.size());
  }
  // Tells the driver, closes every session and unregisters from the run-loop thread.
  virtual void disconnect();
  // Channel 0 has a session whose two streams are open.
  virtual bool isOpen() const;

  // From creation until disconnect or detach.
  bool connected() const { return connected_.load(); }
  int channelCount() const;
  std::shared_ptr<accessory::Accessory> eaAccessory() const;

  // Identity, copied from the accessory when connecting (a hub port sets its own).
  std::string deviceName() const;
  std::string deviceModel() const;
  std::string firmwareRevision() const;
  std::string hardwareRevision() const;
  std::string serialNumber() const;
  void setDeviceName(const std::string& v);
  void setDeviceModel(const std::string& v);
  void setFirmwareRevision(const std::string& v);
  void setHardwareRevision(const std::string& v);
  void setSerialNumber(const std::string& v);

  void setDelegate(std::weak_ptr<AccessoryManagerDelegate> driver);
  std::shared_ptr<AccessoryManagerDelegate> delegate() const;
  void setManagerDelegate(std::weak_ptr<EAStreamManagerDelegate> manager);
  std::shared_ptr<EAStreamManagerDelegate> managerDelegate() const;

  // Flags kept for the owning driver; the stream does not consult them.
  std::atomic<bool> disabled{false};
  std::atomic<bool> connectEnabled{false};
  std::atomic<bool> connectInProgress{false};

  // Platform callbacks.
  void handleEvent(accessory::Stream& stream, accessory::StreamEvent event) override;
  void accessoryDidDisconnect(const std::shared_ptr<accessory::Accessory>& accessory) override;

 protected:
  // A stream with no accessory (the hub's port streams derive from it).
  EAStream();
  // Opens the sessions; see `initWithAccessory`.
  bool connectToAccessory(const std::vector<std::string>& channels);
  void setConnected(bool on) { connected_ = on; }
  // The detach steps: mark not connected, tell the manager, disconnect on the global queue.
  void detach();

 private:
  struct Channel {
    std::shared_ptr<accessory::Session> session;
    std::array<uint8_t, kReceiveBufferSize> buffer{};
    int held = 0;
  };
  void receive(int channel);
  bool attemptOpen(const std::vector<std::string>& channels);
  void closeSessions();
  // Leaves the run-loop thread once no session is held any more.
  void unregisterWhenClosed();
  KXUNISDKCommRunLoop& commRunLoop() const;

  KXUNISDKCommRunLoop* commRunLoop_ = nullptr;
  std::atomic<bool> registered_{false};
  std::array<Channel, kMaxChannels> channels_;
  std::atomic<int> channelCount_{0};
  std::mutex eaLock_;              // serialises writes and the closing of sessions
  mutable std::mutex stateMutex_;  // guards the fields below and the session slots' pointers
  foundation::RunLoop* loop_ = nullptr;  // where the sessions are scheduled
  std::mutex openMutex_;
  std::condition_variable openCv_;  // signalled by open and error events
  std::shared_ptr<accessory::Accessory> accessory_;
  std::string deviceName_, deviceModel_, firmwareRevision_, hardwareRevision_, serialNumber_;
  std::weak_ptr<AccessoryManagerDelegate> delegate_;
  std::weak_ptr<EAStreamManagerDelegate> managerDelegate_;
  std::atomic<bool> connected_{false};
};

}  // namespace kestra
