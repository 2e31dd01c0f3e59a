#include "testing/devices/rf/SimulatedRc663.h"

#include <algorithm>

namespace devices {

namespace {

constexpr uint8_t kStatusNoAnswer = 6;

Bytes frame(uint8_t flags, uint8_t status, const Bytes& data) {
  Bytes f(4 + data.size());
  f[0] = flags;
  f[1] = status;
  f[2] = uint8_t(data.size() >> 8);
  f[3] = uint8_t(data.size());
  for (size_t i = 0; i < data.size(); ++i) f[4 + i] = data[i];
  return f;
}

}  // namespace

void SimulatedRc663::receive(const Bytes& in) {
  std::vector<Bytes> out;
  {
    std::lock_guard lock(mutex_);
    received_.push_back(in);
    if (silent_ || in.size() < 4) return;
    const uint8_t module = in[0];
    const uint8_t sub = in[1];
    const size_t length = (size_t(in[2]) << 8) | in[3];
    const Bytes data(in.begin() + 4, in.begin() + long(std::min(in.size(), 4 + length)));
    auto ok = [&](const Bytes& d = {}) { out.push_back(frame(0, 0, d)); };
    const Bytes ident{0x06, 0x63, uint8_t(version >> 8), uint8_t(version)};
    if (module == 0) {
      switch (sub) {
        case 16:
          polling_ = true;
          ok(ident);
          for (const auto& c : field_) reportLocked(c, out);
          break;
        case 17: ok(ident); break;
        case 1: polling_ = false; ok(); break;
        case 3: polling_ = true; ok(); break;
        case 5: {
          const int channel = data.empty() ? 1 : data[0];
          auto it = std::find_if(field_.begin(), field_.end(), [&](const auto& c) { return c->channel == channel; });
          if (it == field_.end()) {
            out.push_back(frame(0, kStatusNoAnswer, {}));
          } else {
            current_ = *it;
            ok((*it)->detectionRecord());
          }
          break;
        }
        case 15: ok(paymentTracks); break;
        default: ok(); break;
      }
    } else if (sub == 2 || sub == 9) {
      std::optional<Bytes> answer;
      if (!data.empty() && data[0] == 0x01 && data.size() >= 9) {
        // A key loaded into the reader.
        loadedKeys_.resize(std::max<size_t>(loadedKeys_.size(), size_t(data[1]) + 1));
        loadedKeys_[data[1]] = {data[2], Bytes(data.begin() + 3, data.begin() + 9)};
        answer = Bytes{};
      } else if (auto card = selectedCardLocked(module)) {
        if (!data.empty() && data[0] == 0x02 && data.size() >= 4) {
          const size_t index = data[3];
          if (index < loadedKeys_.size())
            answer = card->authenticate(data[2] == 0 ? 0x60 : 0x61, data[1], loadedKeys_[index].second);
        } else {
          if (!data.empty() && data[0] == 0x93) {
            const Bytes uid(data.begin() + 1, data.end());
            auto it = std::find_if(field_.begin(), field_.end(), [&](const auto& c) { return c->uid == uid; });
            if (it == field_.end()) {
              out.push_back(frame(0, kStatusNoAnswer, {}));
              goto done;
            }
            current_ = *it;
            card = current_;
          }
          answer = card->answer(data);
          if (card == leaving_ && --framesBeforeLeaving_ == 0) {
            field_.erase(std::remove(field_.begin(), field_.end(), card), field_.end());
            card->leaveField();
            current_.reset();
            leaving_.reset();
          }
        }
      }
      if (sub == 9)
        ok();
      else if (answer)
        ok(*answer);
      else
        out.push_back(frame(0, kStatusNoAnswer, {}));
    } else {
      ok();
    }
  }
done:
  for (const auto& f : out)
    if (onReply) onReply(f);
}

std::shared_ptr<RfCard> SimulatedRc663::selectedCardLocked(int channel) {
  if (current_ && current_->channel == channel &&
      std::find(field_.begin(), field_.end(), current_) != field_.end())
    return current_;
  auto it = std::find_if(field_.begin(), field_.end(), [&](const auto& c) { return c->channel == channel; });
  if (it == field_.end()) return nullptr;
  current_ = *it;
  return current_;
}

void SimulatedRc663::reportLocked(const std::shared_ptr<RfCard>& card, std::vector<Bytes>& out) {
  out.push_back(frame(0x80, uint8_t(card->channel), card->detectionRecord()));
}

void SimulatedRc663::place(const std::shared_ptr<RfCard>& card) {
  std::vector<Bytes> out;
  {
    std::lock_guard lock(mutex_);
    if (std::find(field_.begin(), field_.end(), card) == field_.end()) field_.push_back(card);
    if (polling_) reportLocked(card, out);
  }
  for (const auto& f : out)
    if (onReply) onReply(f);
}

void SimulatedRc663::remove(const std::shared_ptr<RfCard>& card) {
  std::lock_guard lock(mutex_);
  field_.erase(std::remove(field_.begin(), field_.end(), card), field_.end());
  card->leaveField();
  if (current_ == card) current_.reset();
}

void SimulatedRc663::removeAfter(const std::shared_ptr<RfCard>& card, int frames) {
  std::lock_guard lock(mutex_);
  leaving_ = card;
  framesBeforeLeaving_ = frames;
}

void SimulatedRc663::setSilent(bool silent) {
  std::lock_guard lock(mutex_);
  silent_ = silent;
}

std::vector<Bytes> SimulatedRc663::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

int SimulatedRc663::commandsOf(uint8_t sub) const {
  std::lock_guard lock(mutex_);
  return int(std::count_if(received_.begin(), received_.end(),
                           [&](const Bytes& f) { return f.size() >= 2 && f[0] == 0 && f[1] == sub; }));
}

bool SimulatedRc663::polling() const {
  std::lock_guard lock(mutex_);
  return polling_;
}

}  // namespace devices
