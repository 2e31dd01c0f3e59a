// Feeds arbitrary bytes to the application's answer reading: the SOAP result walk, the XML
// element model and the JSON reading of the result text. Each must give a result or an
// error, never crash.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "app/core/APDocument.h"
#include "app/core/JsonClass.h"
#include "app/core/SoapAnswer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string answer(reinterpret_cast<const char*>(data), size);
  orvo::SoapAnswerFailure failure;
  auto text = orvo::soapResultText(answer, "GetPrice", &failure);
  foundation::Error error;
  if (text) orvo::JsonClass::readJSON(*text, &error);
  orvo::JsonClass::readJSON(answer, &error);
  orvo::APDocument doc(answer);
  (void)doc.wellFormed();
  return 0;
}
