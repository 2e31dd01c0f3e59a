#include "testing/devices/base/FrameCommandDevice.h"

#include <algorithm>

namespace devices {

void FrameCommandDevice::on(uint32_t command, Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_[command] = std::move(handler);
}

void FrameCommandDevice::onOther(Handler handler) {
  std::lock_guard lock(mutex_);
  other_ = std::move(handler);
}

void FrameCommandDevice::script(uint32_t command, ScriptedFault fault, int times) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < times; ++i) script_.emplace_back(command, fault);
}

void FrameCommandDevice::clearScript() {
  std::lock_guard lock(mutex_);
  script_.clear();
  unanswered_.clear();
}

void FrameCommandDevice::setAnswered(uint32_t command, bool answered) {
  std::lock_guard lock(mutex_);
  std::erase(unanswered_, command);
  if (!answered) unanswered_.push_back(command);
}

std::optional<ScriptedFault> FrameCommandDevice::takeFault(uint32_t command) {
  if (std::find(unanswered_.begin(), unanswered_.end(), command) != unanswered_.end())
    return ScriptedFault::unanswered();
  for (auto it = script_.begin(); it != script_.end(); ++it) {
    if (it->first != command && it->first != kAnyCommand) continue;
    ScriptedFault f = std::move(it->second);
    script_.erase(it);
    return f;
  }
  return std::nullopt;
}

std::vector<Outgoing> FrameCommandDevice::feed(int channel, const uint8_t* data, size_t length) {
  std::vector<HostFrame> complete;
  {
    std::lock_guard lock(mutex_);
    Bytes& buf = pending_[channel];
    buf.insert(buf.end(), data, data + length);
    size_t pos = 0;
    while (pos < buf.size()) {
      const FrameScan scan = parser_(buf.data() + pos, buf.size() - pos);
      const size_t left = buf.size() - pos;
      if (scan.kind == FrameScan::NeedMore || scan.length == 0 || scan.length > left) break;
      if (scan.kind == FrameScan::Frame) {
        HostFrame f{channel, scan.command, Bytes(buf.begin() + long(pos), buf.begin() + long(pos + scan.length))};
        frames_.push_back(f);
        complete.push_back(std::move(f));
      }
      pos += scan.length;
    }
    buf.erase(buf.begin(), buf.begin() + long(pos));
    if (!complete.empty()) framesChanged_.notify_all();
  }

  std::vector<Outgoing> out;
  for (const HostFrame& f : complete) {
    Handler handler;
    {
      std::lock_guard lock(mutex_);
      auto it = handlers_.find(f.command);
      handler = it != handlers_.end() ? it->second : other_;
    }
    if (!handler) continue;
    std::vector<Reply> replies = handler(f);
    if (replies.empty()) continue;
    std::optional<ScriptedFault> fault;
    {
      std::lock_guard lock(mutex_);
      fault = takeFault(f.command);
    }
    if (fault && fault->kind == ScriptedFault::Unanswered) continue;
    for (size_t i = 0; i < replies.size(); ++i) {
      // A fault applies to the first reply of the frame; a dropped link ends the rest.
      out.push_back({replies[i].channel < 0 ? f.channel : replies[i].channel, std::move(replies[i].bytes),
                     i == 0 ? fault : std::nullopt});
      if (i == 0 && fault && fault->kind == ScriptedFault::Dropped) break;
    }
  }
  return out;
}

std::vector<HostFrame> FrameCommandDevice::hostFrames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

void FrameCommandDevice::clearHostFrames() {
  std::lock_guard lock(mutex_);
  frames_.clear();
}

size_t FrameCommandDevice::framesOf(uint32_t command) const {
  std::lock_guard lock(mutex_);
  return size_t(std::count_if(frames_.begin(), frames_.end(), [&](const HostFrame& f) {
    return command == kAnyCommand || f.command == command;
  }));
}

bool FrameCommandDevice::waitForFrames(uint32_t command, size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return framesChanged_.wait_for(lock, timeout, [&] {
    return size_t(std::count_if(frames_.begin(), frames_.end(), [&](const HostFrame& f) {
             return command == kAnyCommand || f.command == command;
           })) >= count;
  });
}

void FrameCommandDevice::resetChannel(int channel) {
  std::lock_guard lock(mutex_);
  pending_.erase(channel);
}

}  // namespace devices
