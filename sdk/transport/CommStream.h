#pragma once
// A device driver's link over any input/output stream pair instead of an accessory
// session: Bluetooth module streams, a Bluetooth Low Energy stream, a socket pair. Each
// driver owns one wrapper, named after itself ("Pellan", "Printer", "PPad"), and hands it
// the pair it was given.
//
// The wrapper schedules the pair on the common run-loop thread (a pair whose streams
// deliver their own events is not scheduled), reports once that both sides are open, keeps
// incoming bytes in a fixed 4,096-byte buffer and offers all of them to its owner, which
// returns how many leading bytes it consumed (whole messages); the rest stays and is offered
// again with the next bytes. Bytes that arrive before both sides are open are dropped when
// the pair opens (one read of up to 4,096 bytes).
//
// How a driver uses it:
//   auto comm = kestra::CommStream::initWithName("Pellan");
//   comm->setDelegate(weakSelf);                 // implements CommStreamDelegate
//   comm->connect(input, output);                // -> streamConnected (run-loop thread)
//   comm->write(bytes, n);                       // from the driver's command thread
//   ... streamData(comm, buffer, length) -> consumed   (run-loop thread)
//   comm->disconnect();                          // -> streamDisconnected (caller's thread)
//
// Threads: events on the run-loop thread (or the self-delivering stream's thread); writes
// on the owner's thread, not locked here (owners serialise their commands); `disconnect`
// runs its callback on the caller's thread, or on the global queue after the far end
// closed. Destroying the wrapper disconnects it. The owner is held weakly.

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "platform/accessory/Stream.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"

namespace kestra {

class CommStream;
class KXUNISDKCommRunLoop;

class CommStreamDelegate {
 public:
  virtual ~CommStreamDelegate() = default;
  // Once per connection, when both streams are open.
  virtual void streamConnected(CommStream& stream) = 0;
  // All held bytes after each read; returns the count of leading bytes consumed.
  virtual int streamData(CommStream& stream, const uint8_t* buffer, int length) = 0;
  // After `disconnect` closed an opened pair.
  virtual void streamDisconnected(CommStream& stream) = 0;
};

class CommStream : public accessory::StreamDelegate,
                   public std::enable_shared_from_this<CommStream> {
 public:
  static constexpr int kReceiveBufferSize = 4096;
  static constexpr foundation::Duration kWriteTimeout = std::chrono::seconds(3);

  enum ConnState : int { kNotConnected = 0, kOpening = 1, kOpen = 2 };

  // `commRunLoop` defaults to the shared run-loop thread.
  static std::shared_ptr<CommStream> initWithName(const std::string& name,
                                                  KXUNISDKCommRunLoop* commRunLoop = nullptr);
  ~CommStream() override;

  // Adopts and opens the pair. Ignored while a pair is open (disconnect first); a pair
  // that never finished opening is dropped.
  void connect(std::shared_ptr<accessory::InputStream> input,
               std::shared_ptr<accessory::OutputStream> output);
  // When a pair is open: closes it and sends `streamDisconnected`. Otherwise nothing.
  void disconnect();
  // Closes and drops both streams and resets the state, telling nobody.
  void closeStreams();
  // Writes everything within `kWriteTimeout` (3 s of the `Clock` from the start of the
  // call). False on time-out, a failed link or no pair; the pair stays open.
  bool write(const uint8_t* data, size_t length);
  bool write(const foundation::Bytes& data) { return write(data.data(), data.size()); }
  // Discards the held bytes.
  void clearReceive();

  int connstate() const { return connstate_.load(); }
  const std::string& name() const { return name_; }
  void setDelegate(std::weak_ptr<CommStreamDelegate> owner);
  std::shared_ptr<CommStreamDelegate> delegate() const;

  void handleEvent(accessory::Stream& stream, accessory::StreamEvent event) override;

 private:
  CommStream(std::string name, KXUNISDKCommRunLoop* commRunLoop);
  void receive();
  void disconnectWith(const std::shared_ptr<CommStreamDelegate>& owner);
  KXUNISDKCommRunLoop& commRunLoop() const;

  const std::string name_;
  KXUNISDKCommRunLoop* commRunLoop_;
  mutable std::mutex mutex_;  // guards the stream pointers and the owner
  std::shared_ptr<accessory::InputStream> inputStream_;
  std::shared_ptr<accessory::OutputStream> outputStream_;
  foundation::RunLoop* scheduledOn_ = nullptr;
  std::weak_ptr<CommStreamDelegate> delegate_;
  std::atomic<bool> streamsOpened_{false};
  std::atomic<int> connstate_{kNotConnected};
  bool registered_ = false;
  std::array<uint8_t, kReceiveBufferSize> readBuffer_{};
  std::atomic<int> readLen_{0};
};

}  // namespace kestra
