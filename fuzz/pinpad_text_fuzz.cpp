// The pinpad display's text handling on arbitrary bytes: the inline-tag parser (taken as
// UTF-8, whatever the bytes), the styled-text and menu commands built from its runs, plain
// text cut to the room left, and a data prompt's answer. Nothing may read or write past a
// buffer; every run holds text, and the runs never hold more characters than the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sdk/pinpad/PPadDisplayBytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int font = data[0] % 8;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  const auto runs = kestra::parseTextState(text);
  size_t characters = 0;
  for (const auto& run : runs) {
    if (run.text.empty()) abort();
    characters += run.text.size();
  }
  // A character that is no UTF-8 becomes U+FFFD (three bytes) at most once per input byte.
  if (characters > 3 * text.size()) abort();
  const auto request = kestra::ppad::styledTextRequest(runs, data[0] * 3, data[0] * 2, font);
  if (request.size() < 8) abort();

  const foundation::Bytes bytes(data + 1, data + size);
  const auto plain = kestra::ppad::plainTextBytes(bytes, font, data[0]);
  if (plain.size() > bytes.size()) abort();
  if (kestra::ppad::promptText(bytes).size() > bytes.size()) abort();
  (void)kestra::ppad::menuRequest(text, {text, text}, double(data[0]));
  return 0;
}
