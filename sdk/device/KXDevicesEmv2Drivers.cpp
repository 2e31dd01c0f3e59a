// The EMV kernel, contactless-pass and head-choice calls of the sleeve and pinpad adapters,
// passed to their drivers unchanged.

#include "sdk/device/PPadPinpad.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/sleeve/Pellan.h"

namespace kestra {

std::optional<Bytes> PellanSleeve::emv2Command(const uint8_t* data, int length, Error* error) {
  return pellan_->emv2Command(data, length, error);
}
bool PellanSleeve::vasInitWIthData(const Bytes& data, Error* error) { return pellan_->vasInitWIthData(data, error); }
bool PellanSleeve::vasClose(Error* error) { return pellan_->vasClose(error); }
bool PellanSleeve::vasLoadECCPrivateKeyAtSlot(int slot, const Bytes& key, uint32_t version, Error* error) {
  return pellan_->vasLoadECCPrivateKeyAtSlot(slot, key, version, error);
}
bool PellanSleeve::vasGetECCPrivateKeyVersionAtSlot(int slot, uint32_t* version, Error* error) {
  return pellan_->vasGetECCPrivateKeyVersionAtSlot(slot, version, error);
}
bool PellanSleeve::vasSetActiveECCPrivateKeyAtSlot(int slot, Error* error) {
  return pellan_->vasSetActiveECCPrivateKeyAtSlot(slot, error);
}
bool PellanSleeve::vasSetCollectorID(uint32_t id, Error* error) { return pellan_->vasSetCollectorID(id, error); }
bool PellanSleeve::emsrSetActiveHead(int head, Error* error) { return pellan_->emsrSetActiveHead(head, error); }

int PPadPinpad::emv2Command(const uint8_t* data, int length, Bytes* result) {
  return pad_->emv2Command(data, length, result);
}
int PPadPinpad::dukptGenerateKeyOnline(int keyID, Bytes* keySerial) {
  return pad_->dukptGenerateKeyOnline(keyID, keySerial);
}

}  // namespace kestra
