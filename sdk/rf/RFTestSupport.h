#pragma once
// Test wiring of the RF stack: a transport that hands the stack's reader frames to a
// simulated rc663 module and delivers the module's bytes back on the SDK's global queue, as
// a host device does, and a delegate that records detected cards.

#include <memory>
#include <mutex>
#include <vector>

#include "sdk/rf/RFWrapper.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/base/RecordingDelegate.h"
#include "testing/devices/rf/SimulatedRc663.h"

namespace kestra::rftest {

class ModuleTransport final : public RFReaderTransport {
 public:
  explicit ModuleTransport(std::shared_ptr<devices::SimulatedRc663> module) : module_(std::move(module)) {
    module_->onReply = [](const foundation::Bytes& bytes) {
      GlobalQueue::async([bytes] { RFWrapper::dataAvaiable(bytes); });
    };
  }
  std::optional<foundation::Bytes> rfReaderWrite(int, const uint8_t* data, int length, foundation::Error*) override {
    module_->receive(foundation::Bytes(data, data + length));
    return foundation::Bytes{};
  }

 private:
  std::shared_ptr<devices::SimulatedRc663> module_;
};

class CardRecorder final : public RFWrapperDelegate {
 public:
  devices::CallRecorder log;
  void rfCardDetected(int cardIndex) override { log.add("card:" + std::to_string(cardIndex)); }
};

// The stack over a fresh module, initialised for type A and B cards.
struct RfBench {
  std::shared_ptr<devices::SimulatedRc663> module = std::make_shared<devices::SimulatedRc663>();
  std::shared_ptr<CardRecorder> cards = std::make_shared<CardRecorder>();

  RfBench() {
    RFWrapper::setCommDelegate(std::make_shared<ModuleTransport>(module));
    RFWrapper::setDelegate(cards);
    RFWrapper::setReaderType(kRFReaderRc663);
  }
  ~RfBench() {
    RFWrapper::close();
    GlobalQueue::waitIdle();
    RFWrapper::setDelegate(nullptr);
    RFWrapper::setCommDelegate(nullptr);
  }
  bool init(foundation::Error* error = nullptr) { return RFWrapper::init(0x03, 300, error); }
  // Places `card` and waits until the stack has reported it (its index).
  int present(const std::shared_ptr<devices::RfCard>& card) {
    const size_t before = cards->log.size();
    module->place(card);
    if (!cards->log.waitForCount(before + 1)) return -1;
    const std::string line = cards->log.lines()[before];
    return std::stoi(line.substr(5));
  }
};

}  // namespace kestra::rftest
