// Plays an accessory answering the session handshake with arbitrary bytes and then closing.
// The host's stream pair must open exactly when the first byte is the accept byte, and then
// hand the reader every byte after it, in order; any other answer must fail both sides. A
// pair that never settles is a hang.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/accessory/FdStream.h"
#include "platform/foundation/RunLoop.h"

namespace {

using namespace accessory;

constexpr uint8_t kAccept = 0x06;

class Reader : public StreamDelegate {
 public:
  void handleEvent(Stream& s, StreamEvent e) override {
    if (e == StreamEvent::HasBytesAvailable) {
      uint8_t buf[512];
      ssize_t n;
      while ((n = static_cast<InputStream&>(s).read(buf, sizeof buf)) > 0) data.insert(data.end(), buf, buf + n);
    }
    if (e == StreamEvent::EndEncountered) ended = true;
    if (e == StreamEvent::ErrorOccurred) failed = true;
  }
  std::vector<uint8_t> data;
  bool ended = false;
  bool failed = false;
};

}  // namespace

// Answers are kept below a socket's buffer, so the whole answer goes out at once.
constexpr size_t kMaxAnswer = 32768;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxAnswer) size = kMaxAnswer;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
  FdStreamPair pair = makeFdStreamPair(fds[0], kAccept);
  auto in = std::make_shared<Reader>();
  auto out = std::make_shared<Reader>();
  auto& loop = foundation::RunLoop::main();
  pair.input->setDelegate(in);
  pair.output->setDelegate(out);
  pair.input->schedule(loop);
  pair.output->schedule(loop);
  pair.input->open();
  pair.output->open();

  if (size && ::write(fds[1], data, size) != ssize_t(size)) std::abort();
  ::close(fds[1]);

  const bool accepted = size > 0 && data[0] == kAccept;
  const bool settled = loop.runUntil(
      [&] { return accepted ? in->ended || in->failed : pair.output->status() == StreamStatus::Error; },
      std::chrono::seconds(10));
  if (!settled) std::abort();
  if (accepted) {
    if (in->failed || in->data != std::vector<uint8_t>(data + 1, data + size)) std::abort();
  } else if (pair.input->status() != StreamStatus::Error) {
    std::abort();
  }
  pair.input->close();
  pair.output->close();
  pair.input->remove(loop);
  return 0;
}
