#pragma once
// A simulated pn544 NFC controller: the link layer (numbered I-frames acknowledged with RR,
// S- and U-frames, CRC-16/X-25) and the host controller interface above it (admin pipe,
// pipes created to the reader gates, parameters, controller registers, reader events).
// Cards are `RfCard` models; once the host has started polling, a card placed in the field
// is announced with the target-discovered event on the pipe of its reader gate, and the
// gate's registers answer its identity. Exchanges with the card go through the gates as the
// controller's commands do.
//
// The controller's bytes go to the host through `onOutput`, called without any lock held,
// from inside `receive` or from the thread that places a card.
//
// Threads: any; one lock guards the state.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "testing/devices/rf/RfCardModels.h"

namespace devices {

class SimulatedPn544 {
 public:
  std::function<void(const Bytes&)> onOutput;

  // Host -> controller link bytes.
  void receive(const Bytes& bytes);
  void place(const std::shared_ptr<RfCard>& card);
  void remove(const std::shared_ptr<RfCard>& card);

  // What the host did.
  std::vector<Bytes> messages() const;     // whole messages received, in order ([pipe][message])
  std::vector<Bytes> framesIn() const;     // link frames received
  std::map<uint32_t, uint8_t> registers() const;
  // Gate -> pipe id of the pipes the host created.
  std::map<int, int> pipes() const;
  // Parameter `reg` last set on the pipe to `gate`.
  Bytes parameter(int gate, int reg) const;
  int readerRequests(int gate) const;
  int resumes() const;
  // Answers the next command with this response code instead.
  void failNext(uint8_t responseCode);

 private:
  void frameLocked(const Bytes& frame, std::vector<Bytes>& out);
  void messageLocked(int pipe, const Bytes& message, std::vector<Bytes>& out);
  void sendLocked(int pipe, const Bytes& message, std::vector<Bytes>& out);
  void announceLocked(const std::shared_ptr<RfCard>& card, std::vector<Bytes>& out);
  std::shared_ptr<RfCard> cardOnGateLocked(int gate);
  int gateOfPipe(int pipe) const;
  void emit(const std::vector<Bytes>& out);

  mutable std::mutex mutex_;
  Bytes rx_;
  std::map<int, Bytes> assembling_;
  std::map<int, int> pipeGate_;  // pipe -> gate
  int nextPipe_ = 2;
  uint8_t ns_ = 0;
  std::map<uint32_t, uint8_t> registers_;
  std::map<std::pair<int, int>, Bytes> params_;
  std::map<int, int> readerRequests_;
  int resumes_ = 0;
  std::vector<std::shared_ptr<RfCard>> field_;
  std::vector<std::shared_ptr<RfCard>> announced_;
  std::vector<Bytes> messages_;
  std::vector<Bytes> framesIn_;
  int failNext_ = -1;
};

}  // namespace devices
