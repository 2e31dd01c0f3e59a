// The EMV kernel's configuration: blobs converted to the form the kernel understands,
// versioned by a CRC of their contents so that the same blob is not downloaded twice,
// downloaded in chunks into numbered slots, and the kernel's versions read back.

#include <array>

#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesEmv2.h"

namespace kestra {

namespace {

constexpr int kConfigFeatureEmv2 = 10;
constexpr int kConfigNewerKernel = 4;
constexpr uint32_t kNoVersion = 0xFFFFFFFF;

constexpr uint8_t kCmdLoadConfiguration = 0x01;
constexpr uint8_t kCmdGetInfo = 0x02;
constexpr uint8_t kCmdBeginDownload = 0x51;
constexpr uint8_t kCmdChunk = 0x52;
constexpr uint8_t kCmdEndDownload = 0x53;
constexpr uint8_t kCmdClear = 0x54;

constexpr uint8_t kSlotContact = 0;
constexpr uint8_t kSlotContactless = 1;
constexpr uint8_t kSlotContactCAPK = 2;
constexpr uint8_t kSlotContactlessCAPK = 3;
constexpr uint8_t kSlotGeneric = 4;

// Older-kernel tag, newer-kernel tag.
constexpr std::array<std::pair<uint32_t, uint32_t>, 19> convertedTagList = {{
    {0xDFDE, 0xDFC30B},         {0xDFE2, 0xDFC30C},         {0xDFE3, 0xDFC30D},     {0xDFE4, 0xDFC30E},
    {0xDFE5, 0xDFC30F},         {0xCFFFFF00, 0xDFC310},     {0xCFFFFF01, 0xDFC311}, {0xCFFFFF02, 0xDFC312},
    {0xCFFFFF03, 0xDFC313},     {0xCFFFFF04, 0xDFC314},     {0xDFDB, 0xDFC315},     {0xDFFFDF41, 0xDFC303},
    {0xDFFFDF42, 0xDFC304},     {0xDFFFDF43, 0xDFC305},     {0xDFFFDF44, 0xDFC306}, {0xDFFFDF45, 0xDFC307},
    {0xDFFFDF46, 0xDFC308},     {0xCFFF8001, 0xDFC309},     {0xCFFF8002, 0xDFC30A},
}};

const std::array<uint32_t, 256>& crc32_tbl() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}

Bytes tagBytes(uint32_t tag) {
  Bytes b;
  for (int shift = 24; shift >= 0; shift -= 8)
    if (tag >> shift || !b.empty() || shift == 0) b.push_back(uint8_t(tag >> shift));
  return b;
}

// The direct children of a template as (tag bytes, value). The older kernels' tags of the
// table (DFDE, CFFFFF00, ...) are not well-formed BER tags, so the table's tags are matched
// as they stand before the BER rule; nothing when the bytes are not such a list.
std::optional<std::vector<std::pair<Bytes, Bytes>>> children(const Bytes& b, bool fromOlder) {
  std::vector<std::pair<Bytes, Bytes>> out;
  size_t i = 0;
  while (i < b.size()) {
    Bytes tag;
    for (const auto& [older, newer] : convertedTagList) {
      const Bytes t = tagBytes(fromOlder ? older : newer);
      if (b.size() - i >= t.size() && std::equal(t.begin(), t.end(), b.begin() + long(i))) {
        tag = t;
        break;
      }
    }
    if (tag.empty()) {
      tag.push_back(b[i]);
      if ((b[i] & 0x1F) == 0x1F) {
        size_t j = i + 1;
        do {
          if (j >= b.size() || tag.size() >= 4) return std::nullopt;
          tag.push_back(b[j]);
        } while (b[j++] & 0x80);
      }
    }
    i += tag.size();
    if (i >= b.size()) return std::nullopt;
    size_t n = b[i++];
    if (n & 0x80) {
      const size_t k = n & 0x7F;
      if (k == 0 || k > 2 || b.size() - i < k) return std::nullopt;
      n = 0;
      for (size_t j = 0; j < k; ++j) n = n << 8 | b[i++];
    }
    if (b.size() - i < n) return std::nullopt;
    out.emplace_back(std::move(tag), Bytes(b.begin() + long(i), b.begin() + long(i + n)));
    i += n;
  }
  return out;
}

Bytes convert(const Bytes& blob, bool toNewer) {
  KXUNISDKGlobals::LOGDATA("Original config", blob.data(), blob.size(), false);
  auto top = KXTLV::decodeTags(blob);
  if (!top) return blob;
  for (auto& item : *top) {
    if (item.tag == (toNewer ? 0xE2u : 0xE1u)) item.tag = toNewer ? 0xE1 : 0xE2;
    if (!item.constructed() || !item.data) continue;
    auto list = children(*item.data, toNewer);
    if (!list) continue;
    Bytes value;
    for (auto& [tag, childValue] : *list) {
      for (const auto& [older, newer] : convertedTagList)
        if (tag == tagBytes(toNewer ? older : newer)) {
          tag = tagBytes(toNewer ? newer : older);
          break;
        }
      // The BER length of the child, as the kernel reads it.
      Bytes encoded = KXTLV::encodeTags({KXTLV::tlvWithData(childValue, 0x5A)});
      value.insert(value.end(), tag.begin(), tag.end());
      value.insert(value.end(), encoded.begin() + 1, encoded.end());
    }
    item.data = std::move(value);
  }
  Bytes out = KXTLV::encodeTags(*top);
  KXUNISDKGlobals::LOGDATA("Processed config", out.data(), out.size(), false);
  return out;
}

}  // namespace

// ---- Pure pieces ------------------------------------------------------------------------------------

uint32_t emv2Crc32(const uint8_t* data, size_t length) {
  const auto& t = crc32_tbl();
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < length; ++i) crc = t[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t emv2GetVersion(const std::vector<KXTLV>& tags, uint32_t tag) {
  KXUNISDKGlobals::LOG("* emv2GetVersion");
  auto t = KXTLV::findLastTag(tag, tags);
  if (!t || !t->data || t->data->size() < 4) return 0;
  return foundation::readBE32(t->data->data());
}

uint32_t emv2GetConfigurationVersion(const Bytes& blob) {
  auto top = KXTLV::decodeTags(blob);
  if (!top) return kNoVersion;
  auto e4 = KXTLV::findTag(0xE4, *top);
  if (e4.empty() || !e4.front().data) return kNoVersion;
  auto inner = KXTLV::decodeTags(*e4.front().data);
  if (!inner) return kNoVersion;
  auto c1 = KXTLV::findLastTag(0xC1, *inner);
  // A version shorter than 4 bytes is no version.
  if (!c1 || !c1->data || c1->data->size() < 4) return kNoVersion;
  return foundation::readBE32(c1->data->data());
}

std::optional<Bytes> emv2AttachConfigurationVersion(const Bytes& blob, uint32_t* version) {
  auto top = KXTLV::decodeTags(blob);
  if (!top) return std::nullopt;
  if (KXTLV::findTag(0xE4, *top).empty()) return KXTLV::encodeTags(*top);
  if (emv2GetConfigurationVersion(blob) != 0) return blob;
  Bytes values;
  for (const auto& item : *top)
    if (item.tag != 0xE4 && item.data) foundation::append(values, *item.data);
  const uint32_t crc = emv2Crc32(values.data(), values.size());
  const Bytes e4 = KXTLV::encodeTags({KXTLV::tlvWithInt(crc, 4, 0xC1)});
  for (auto& item : *top)
    if (item.tag == 0xE4) item.data = e4;
  if (version) *version = crc;
  return KXTLV::encodeTags(*top);
}

Bytes emv2PEProcessConfigurationBytes(const Bytes& blob) { return convert(blob, true); }
Bytes emv2CCProcessConfigurationBytes(const Bytes& blob) { return convert(blob, false); }

Bytes KXDevices::emv2PEProcessConfiguration(const Bytes& configuration) {
  return emv2PEProcessConfigurationBytes(configuration);
}
Bytes KXDevices::emv2CCProcessConfiguration(const Bytes& configuration) {
  return emv2CCProcessConfigurationBytes(configuration);
}
Bytes KXDevices::emv2PEProcessShortConfiguration(const Bytes& configuration) { return configuration; }

// ---- Download ---------------------------------------------------------------------------------------

bool KXDevices::emv2LoadData(const Bytes& data, const std::optional<Bytes>& header, Error* error) {
  KXUNISDKGlobals::LOG("* emv2LoadData");
  Bytes begin = header.value_or(Bytes());
  foundation::appendBE32(begin, uint32_t(data.size()));
  if (!emv2Command(begin.data(), int(begin.size()), error)) return false;
  for (size_t offset = 0; offset < data.size(); offset += kEmv2ChunkBytes) {
    const size_t n = std::min(kEmv2ChunkBytes, data.size() - offset);
    Bytes chunk = {kCmdChunk, 0x00};
    chunk.insert(chunk.end(), data.begin() + long(offset), data.begin() + long(offset + n));
    if (!emv2Command(chunk.data(), int(chunk.size()), error)) return false;
  }
  const Bytes end = {kCmdEndDownload, 0x00};
  return emv2Command(end.data(), int(end.size()), error).has_value();
}

namespace {

enum class Blob { Contactless, Contact, ContactlessCAPK, ContactCAPK, Generic };

}  // namespace

// One load on a newer kernel. A blob whose version is 0 gets the CRC of its contents as its
// version and is not downloaded when the kernel reports that version already.
static bool loadVersioned(KXDevices& api, Blob kind, const Bytes& input, int index, uint8_t slot, Error* error) {
  Bytes blob = kind == Blob::Contactless ? emv2PEProcessConfigurationBytes(input) : input;
  if (index == 0 && emv2GetConfigurationVersion(blob) == 0) {
    uint32_t version = 0;
    if (auto versioned = emv2AttachConfigurationVersion(blob, &version)) blob = std::move(*versioned);
    std::shared_ptr<KXEMV2Info> info;
    {
      std::lock_guard lock(api.emv2State().mutex);
      info = api.emv2State().info;
    }
    if (kind == Blob::Contactless || !info) {
      if (auto fresh = api.emv2GetInfo(nullptr)) info = fresh;
    }
    int current = 0;
    if (info) {
      switch (kind) {
        case Blob::Contactless: current = info->contactlessConfigurationVersion; break;
        case Blob::Contact: current = info->contactConfigurationVersion; break;
        case Blob::ContactlessCAPK: current = info->contactlessCAPKVersion; break;
        case Blob::ContactCAPK: current = info->contactCAPKVersion; break;
        case Blob::Generic: current = info->messagesVersion; break;
      }
    }
    if (kind == Blob::Contactless) {
      KXUNISDKGlobals::LOG("New config: %zu bytes", blob.size());
      KXUNISDKGlobals::LOG("New ver: %d, current ver: %d", int(version), current);
    }
    if (info && uint32_t(current) == version) return true;
  }
  return api.emv2LoadData(blob, Bytes{kCmdBeginDownload, 0x00, slot}, error);
}

// The slot of configuration `index`; nothing for an index that has none (negative, or a
// slot past one byte would land on another configuration's slot).
static std::optional<uint8_t> configurationSlot(int index, bool contactless) {
  if (index < 0) return std::nullopt;
  if (index == 0) return contactless ? kSlotContactless : kSlotContact;
  const long slot = 2L * index + (contactless ? 4 : 3);
  if (slot > 255) return std::nullopt;
  return uint8_t(slot);
}

bool KXDevices::emv2LoadContactlessConfiguration(const Bytes& configuration, Error* error) {
  return emv2LoadContactlessConfiguration(configuration, 0, error);
}

bool KXDevices::emv2LoadContactlessConfiguration(const Bytes& configuration, int index, Error* error) {
  KXUNISDKGlobals::LOG("* emv2LoadContactlessConfiguration");
  if (computeSupportedFeature(kConfigFeatureEmv2) & kConfigNewerKernel) {
    const auto slot = configurationSlot(index, true);
    if (!slot) return emv2Failure(error, -9, "Invalid argument: configurationIndex");
    return loadVersioned(*this, Blob::Contactless, configuration, index, *slot, error);
  }
  if (index > 0) return emv2Failure(error, -9, "Invalid argument: configurationIndex");
  Bytes c = {kCmdLoadConfiguration, 0x00};
  foundation::append(c, emv2CCProcessConfigurationBytes(configuration));
  return emv2Command(c.data(), int(c.size()), error).has_value();
}

bool KXDevices::emv2LoadContactConfiguration(const Bytes& configuration, Error* error) {
  return emv2LoadContactConfiguration(configuration, 0, error);
}

bool KXDevices::emv2LoadContactConfiguration(const Bytes& configuration, int index, Error* error) {
  KXUNISDKGlobals::LOG("* emv2LoadContactConfiguration");
  if (!(computeSupportedFeature(kConfigFeatureEmv2) & kConfigNewerKernel))
    return emv2Failure(error, -7, "Connected device has no contact configuration option");
  const auto slot = configurationSlot(index, false);
  if (!slot) return emv2Failure(error, -9, "Invalid argument: configurationIndex");
  return loadVersioned(*this, Blob::Contact, configuration, index, *slot, error);
}

bool KXDevices::emv2LoadContactlessCAPK(const Bytes& capk, Error* error) {
  KXUNISDKGlobals::LOG("* emv2LoadContactlessCAPK");
  if (!(computeSupportedFeature(kConfigFeatureEmv2) & kConfigNewerKernel))
    return emv2LoadData(capk, Bytes{kCmdBeginDownload, 0x00}, error);
  return loadVersioned(*this, Blob::ContactlessCAPK, capk, 0, kSlotContactlessCAPK, error);
}

bool KXDevices::emv2LoadContactCAPK(const Bytes& capk, Error* error) {
  KXUNISDKGlobals::LOG("* emv2LoadContactCAPK");
  if (!(computeSupportedFeature(kConfigFeatureEmv2) & kConfigNewerKernel))
    return emv2Failure(error, -7, "Connected device has no contact configuration option");
  return loadVersioned(*this, Blob::ContactCAPK, capk, 0, kSlotContactCAPK, error);
}

bool KXDevices::emv2LoadGenericConfiguration(const Bytes& configuration, Error* error) {
  KXUNISDKGlobals::LOG("* emv2LoadGenericConfiguration");
  if (!(computeSupportedFeature(kConfigFeatureEmv2) & kConfigNewerKernel))
    return emv2Failure(error, -7, "Connected device has no contact configuration option");
  return loadVersioned(*this, Blob::Generic, configuration, 0, kSlotGeneric, error);
}

std::optional<Bytes> KXDevices::emv2CreatePANConfiguration(const Bytes& configuration, Error* error) {
  if (!(computeSupportedFeature(kConfigFeatureEmv2) & kConfigNewerKernel)) {
    emv2Failure(error, -7, "Connected device has no short contact configuration option");
    return std::nullopt;
  }
  return emv2PEProcessShortConfiguration(configuration);
}

bool KXDevices::emv2ClearConfigurations(Error* error) {
  KXUNISDKGlobals::LOG("* emv2ClearConfigurations");
  if (!(computeSupportedFeature(kConfigFeatureEmv2) & kConfigNewerKernel)) return true;
  const Bytes c = {kCmdClear, 0x00};
  return emv2Command(c.data(), int(c.size()), error).has_value();
}

std::shared_ptr<KXEMV2Info> KXDevices::emv2GetInfo(Error* error) {
  KXUNISDKGlobals::LOG("* emv2GetInfo");
  const Bytes c = {kCmdGetInfo, 0x00};
  auto reply = emv2Command(c.data(), int(c.size()), error);
  if (!reply) return nullptr;
  const auto tags = KXTLV::decodeTags(*reply).value_or(std::vector<KXTLV>());
  const bool newer = computeSupportedFeature(kConfigFeatureEmv2) & kConfigNewerKernel;
  auto info = std::make_shared<KXEMV2Info>();
  info->configurationVersion = int(emv2GetVersion(tags, 0xC1));
  info->contactlessConfigurationVersion = int(emv2GetVersion(tags, 0xC1));
  if (newer) {
    info->contactConfigurationVersion = int(emv2GetVersion(tags, 0xC2));
    info->contactlessCAPKVersion = int(emv2GetVersion(tags, 0xC3));
    info->contactCAPKVersion = int(emv2GetVersion(tags, 0xC4));
    info->emvKernelVersion = int(emv2GetVersion(tags, 0xC5));
    info->messagesVersion = int(emv2GetVersion(tags, 0xC6));
  } else {
    info->emvKernelVersion = int(emv2GetVersion(tags, 0xC2));
  }
  std::lock_guard lock(emv2State().mutex);
  emv2State().info = info;
  return info;
}

}  // namespace kestra
