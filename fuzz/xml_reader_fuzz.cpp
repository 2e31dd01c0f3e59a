// Feeds arbitrary bytes to the XML reader: it must report an error or finish, never crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/foundation/XmlReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  foundation::XmlReader reader;
  size_t depth = 0;
  reader.onStartElement = [&](const std::string&, const foundation::XmlReader::Attributes&) { ++depth; };
  reader.onEndElement = [&](const std::string&) { --depth; };
  reader.onCharacters = [](std::string_view) {};
  foundation::Error error;
  reader.parse(std::string_view(reinterpret_cast<const char*>(data), size), &error);
  return 0;
}
