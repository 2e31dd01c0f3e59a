// Feeds arbitrary engine bytes to the barcode engines' answer readers (Code, Newland) and
// the Code answer decoders, through the same read rules the sleeve driver applies to what
// the engine sent. The first byte picks how the bytes arrive: all at once, or in pieces of a
// given size per read. A reader must end with an answer or an error, never read outside
// what it was given, and never loop without end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/sleeve/PellanEngineCodec.h"

using namespace kestra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = data[0] == 0 ? size : data[0];
  const foundation::Bytes input(data + 1, data + size);

  for (int reader = 0; reader < 3; ++reader) {
    pellan::EngineBuffer buffer(4112);
    size_t fed = 0;
    int reads = 0;
    const pellan::EngineRead read = [&](int length, double, int stop, foundation::Error* error)
        -> std::optional<foundation::Bytes> {
      if (++reads > 100000) abort();  // a reader that never ends
      // Each read lets the next piece of the engine's bytes arrive.
      const size_t n = std::min(piece, input.size() - fed);
      buffer.append(input.data() + fed, n);
      fed += n;
      foundation::Bytes out = buffer.take(length, stop);
      if (length > 0 && stop == -1 && out.size() > size_t(length)) abort();
      if (out.empty()) {
        foundation::fail(error, foundation::Error("com.sabrel.errors", -6, "Timeout waiting for engine"));
        return std::nullopt;
      }
      return out;
    };
    foundation::Error error;
    switch (reader) {
      case 0:
        if (auto a = pellan::readCodeAnswer(read, 2.0, &error)) {
          uint64_t v;
          pellan::parseCodeParamAnswer(a->text, &v);
          pellan::parseCodeInformation(a->text, &error);
        } else if (error.code == 0) {
          abort();
        }
        break;
      case 1:
        if (!pellan::readNewlandQueryAnswer(read, &error) && error.code == 0) abort();
        break;
      case 2:
        if (auto t = pellan::readNewlandCommandAnswer(read, &error)) {
          if (t->empty() || t->size() > 16) abort();
        } else if (error.code == 0) {
          abort();
        }
        break;
    }
  }
  // The decoders on the raw bytes as text.
  const std::string text(input.begin(), input.end());
  uint64_t v;
  pellan::parseCodeParamAnswer(text, &v);
  foundation::Error error;
  if (auto info = pellan::parseCodeInformation(text, &error))
    if (info->size() != 10) abort();
  return 0;
}
