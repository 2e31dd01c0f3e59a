// Lays arbitrary text with format tags out for a printer: the text is taken as UTF-8 and as
// the bytes of each encoding family (single-byte, double-byte, UTF-8), on pages of varied
// width. The layout must never write past its piece list, every run it writes must be whole
// escape sequences and text, and no printed line may be wider than the page.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sdk/printer/PrinterText.h"

using namespace kestra::printer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const int kEncodings[] = {kEncodingWindows1252, kEncodingShiftJIS, kEncodingUTF8, kEncodingEUCJP};
  const int encoding = kEncodings[data[0] & 3];
  const int pageWidth = 24 + (data[1] % 8) * 96;  // 24 to 696 dots
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

  foundation::Bytes prepared;
  if (!prepareText(text, encoding, &prepared)) return 0;
  TextState state;
  int pieces = 0;
  size_t written = 0;
  const bool ok = layoutText(prepared, encoding, pageWidth, state, TextEscapes::standard(),
                             [&](const foundation::Bytes& run) {
                               written += run.size();
                               return true;
                             },
                             &pieces);
  if (!ok || pieces > kMaxPieces) abort();
  // Output is bounded by the input: each byte is text, part of a tag, or ends a line.
  if (written > 64 + prepared.size() * 24) abort();
  if (state.curw > pageWidth) abort();
  return 0;
}
