// Feeds arbitrary bytes to the magnetic-track parsers: the raw head-buffer splitter (both
// orders), the length-prefixed layout and the payment-card field parser (the input split into
// a track 1 and a track 2 at its first 0xFF byte). None may read outside its input.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "sdk/foundation/KXUNISDKGlobals.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using kestra::KXUNISDKGlobals;
  // Copies keep each parser inside a buffer of exactly the given size.
  const foundation::Bytes copy(data, data + size);
  const int len = int(size > 100000 ? 100000 : size);
  (void)KXUNISDKGlobals::msExtractTracks(copy.data(), len, false);
  (void)KXUNISDKGlobals::msExtractTracks(copy.data(), len, true);
  (void)KXUNISDKGlobals::msExtractIDTECH(copy.data(), len);

  const std::string_view all(reinterpret_cast<const char*>(copy.data()), copy.size());
  const size_t cut = all.find('\xFF');
  std::optional<std::string_view> t1 = all.substr(0, cut);
  std::optional<std::string_view> t2;
  if (cut != std::string_view::npos) t2 = all.substr(cut + 1);
  if (!all.empty() && (all[0] & 1)) t1.reset();
  auto card = KXUNISDKGlobals::msProcessFinancialCard(t1, t2);
  if (card && !card->count(kestra::trackkey::track1) && !card->count(kestra::trackkey::track2))
    __builtin_trap();
  return 0;
}
