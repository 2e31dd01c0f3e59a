#include "testing/devices/bluetooth/SimulatedBluetoothModule.h"

#include <algorithm>

namespace devices {

std::optional<Bytes> SimulatedBluetoothModule::command(const Bytes& packet, std::vector<Bytes>* events) {
  if (packet.empty()) return std::nullopt;
  commands.push_back(packet);
  const uint8_t sub = packet[0];
  const Bytes data(packet.begin() + 1, packet.end());
  auto emit = [&](Bytes e) {
    if (events) events->push_back(std::move(e));
  };
  switch (sub) {
    case 1: powered = true; return Bytes{0x01};
    case 2:
      powered = false;
      linkedTo.reset();
      return Bytes{0x01};
    case 3: return Bytes{uint8_t(powered ? 1 : 0)};
    case 4: return Bytes(localName.begin(), localName.end());
    case 5: localName.assign(data.begin(), data.end()); return Bytes{0x01};
    case 6: pin.assign(data.begin(), data.end()); return Bytes{0x01};
    case 7: return Bytes(localAddress.begin(), localAddress.end());
    case 8: discoverable = true; return Bytes{0x01};
    case 9: discoverable = false; return Bytes{0x01};
    case 10:
      ++inquiries;
      if (!powered) return std::nullopt;
      if (silentInquiry) return Bytes{0x01};
      for (const auto& r : remotes) {
        Bytes e{7};
        e.insert(e.end(), r.address.begin(), r.address.end());
        e.insert(e.end(), r.name.begin(), r.name.end());
        e.push_back(0);
        emit(std::move(e));
      }
      emit({8});
      return Bytes{0x01};
    case 11: {
      if (!powered || data.size() != 6) return std::nullopt;
      if (silentConnect) return Bytes{0x01};
      auto it = std::find_if(remotes.begin(), remotes.end(), [&](const Remote& r) { return r.address == data; });
      if (it == remotes.end() || !it->acceptsLinks) {
        emit({2});
      } else {
        linkedTo = data;
        emit({3});
      }
      return Bytes{0x01};
    }
    case 12:
      linkedTo.reset();
      return Bytes{0x01};
    default:
      return std::nullopt;
  }
}

std::optional<Bytes> SimulatedBluetoothModule::loseLink() {
  if (!linkedTo) return std::nullopt;
  linkedTo.reset();
  return Bytes{6};
}

Bytes SimulatedBluetoothModule::remoteSends(const Bytes& data) const {
  Bytes e{10};
  e.insert(e.end(), data.begin(), data.end());
  return e;
}

}  // namespace devices
