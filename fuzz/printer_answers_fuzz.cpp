// Feeds arbitrary bytes to every reader of the printer's own answers: identification,
// barcode engine, magnetic tracks, the encrypted head's masked block, the label settings
// and the label language's host identification. None may read past the bytes given, and
// what they return must come from those bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sdk/printer/PrinterModels.h"
#include "sdk/printer/PrinterReaders.h"

using namespace kestra::printer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const foundation::Bytes bytes(data, data + size);
  if (auto id = parseIdentification(data, size)) {
    if (id->name.size() > 22 || id->fwver < 0 || id->fwver > 999) abort();
    kestra::KXPrinterInfo info;
    int feed = 0;
    applyModelClass(modelClassForName(id->name), *id, id->name, &info, &feed);
  }
  if (auto b = parseBarcodeAnswer(bytes)) {
    if (b->text.size() > size) abort();
  }
  size_t tracks = 0;
  for (const auto& t : parseCardTracks(bytes)) tracks += t.size();
  if (tracks > size) abort();
  size_t masked = 0;
  for (const auto& t : parseMaskedBlock(data, size)) masked += t ? t->size() : 0;
  if (masked > size) abort();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)parseLabelSettings(text);
  if (auto l = parseLabelIdentity(text)) {
    if (l->name.size() + l->firmware.size() > size) abort();
  }
  (void)batteryPercent(size ? data[0] % 12 : 0, size ? data[size - 1] : 0);
  return 0;
}
