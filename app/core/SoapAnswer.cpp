#include "app/core/SoapAnswer.h"

#include <pugixml.hpp>

namespace orvo {

// Only the path's elements matter, so the answer is read with pugixml (in one pass, without
// building the element model; several times faster than the event reader on large
// answers). What it finds is what the element model (APDocument) gives for the same
// well-formed text: the first child of each name in document order, and the result
// element's own text (its text and CDATA pieces, not its children's), white space
// included. A malformed answer gives what was read before the fault, or nothing.
std::optional<std::string> soapResultText(std::string_view answer, std::string_view funcName,
                                          SoapAnswerFailure* failure) {
  const std::string responseName = std::string(funcName) + "Response";
  const std::string resultName = std::string(funcName) + "Result";
  static const std::string envelopeName = "soap:Envelope";
  static const std::string bodyName = "soap:Body";

  pugi::xml_document doc;
  // Plain elements and text: entities and character references decoded, line ends
  // normalised, white-space-only text kept; no DOCTYPE, comments or processing
  // instructions in the tree.
  const unsigned options = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                           pugi::parse_ws_pcdata | pugi::parse_wconv_attribute;
  doc.load_buffer(answer.data(), answer.size(), options, pugi::encoding_utf8);

  pugi::xml_node root = doc.first_child();
  while (root && root.type() != pugi::node_element) root = root.next_sibling();
  if (!root || envelopeName != root.name()) return std::nullopt;
  pugi::xml_node at = root;
  for (const std::string* step : {&bodyName, &responseName, &resultName}) {
    pugi::xml_node next = at.child(step->c_str());
    if (!next) {
      if (failure) {
        failure->failed = true;
        failure->name = "NSRangeException";
        failure->reason = "element " + *step + " not found in " + at.name();
      }
      return std::nullopt;
    }
    at = next;
  }
  std::optional<std::string> value;
  for (pugi::xml_node piece = at.first_child(); piece; piece = piece.next_sibling()) {
    if (piece.type() != pugi::node_pcdata && piece.type() != pugi::node_cdata) continue;
    if (!value) value.emplace();
    value->append(piece.value());
  }
  return value;
}

}  // namespace orvo
