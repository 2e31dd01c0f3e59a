#include "app/core/SoapAnswer.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>

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

namespace {

// The local part of an element name ("soap:Fault" -> "Fault").
std::string_view localName(const char* name) {
  std::string_view n(name);
  const size_t colon = n.rfind(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

pugi::xml_node childNamed(pugi::xml_node parent, std::string_view local) {
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && localName(c.name()) == local) return c;
  return {};
}

// Collapses white space runs into one space, trims, and cuts at the limit.
std::string tidy(std::string_view text) {
  std::string out;
  bool space = false;
  for (unsigned char c : text) {
    if (std::isspace(c)) {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += char(c);
    if (out.size() >= kFaultTextLimit) break;
  }
  return out;
}

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

// The few entities an error page uses in its text.
std::string decodeEntities(const std::string& s) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&nbsp;", " "}};
  std::string out;
  for (size_t i = 0; i < s.size();) {
    bool replaced = false;
    if (s[i] == '&')
      for (const auto& [from, to] : kEntities)
        if (s.compare(i, std::char_traits<char>::length(from), from) == 0) {
          out += to;
          i += std::char_traits<char>::length(from);
          replaced = true;
          break;
        }
    if (!replaced) out += s[i++];
  }
  return out;
}

// The visible text of an HTML page: tags, scripts and styles dropped.
std::optional<std::string> htmlText(std::string_view page) {
  const std::string low = lower(page);
  if (low.find("<html") == std::string::npos && low.find("<!doctype html") == std::string::npos) return std::nullopt;
  auto between = [&](const std::string& open, const std::string& close, size_t from = 0) -> std::string_view {
    const size_t a = low.find(open, from);
    if (a == std::string::npos) return {};
    const size_t start = low.find('>', a);
    if (start == std::string::npos) return {};
    const size_t end = low.find(close, start);
    return page.substr(start + 1, (end == std::string::npos ? page.size() : end) - start - 1);
  };
  std::string_view body = between("<body", "</body");
  const std::string lowBody = lower(body);
  std::string text;
  bool inTag = false;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (inTag) {
      if (c == '>') inTag = false;
      continue;
    }
    if (c == '<') {
      for (const char* skip : {"<script", "<style"}) {
        if (lowBody.compare(i, std::char_traits<char>::length(skip), skip) == 0) {
          const std::string close = std::string("</") + (skip + 1);
          const size_t end = lowBody.find(close, i);
          i = end == std::string::npos ? body.size() : end;
          break;
        }
      }
      inTag = true;
      text += ' ';
      continue;
    }
    text += c;
  }
  std::string words = tidy(decodeEntities(text));
  if (words.empty()) words = tidy(decodeEntities(std::string(between("<title", "</title"))));
  if (words.empty()) return std::nullopt;
  return words;
}

}  // namespace

std::optional<std::string> soapFaultText(std::string_view answer) {
  pugi::xml_document doc;
  const unsigned options = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol;
  if (doc.load_buffer(answer.data(), answer.size(), options, pugi::encoding_utf8)) {
    pugi::xml_node root = doc.document_element();
    if (root && localName(root.name()) == "Envelope") {
      pugi::xml_node fault = childNamed(childNamed(root, "Body"), "Fault");
      if (!fault) return std::nullopt;
      std::string text = childNamed(fault, "faultstring").text().get();
      if (text.empty()) text = childNamed(childNamed(fault, "Reason"), "Text").text().get();
      if (text.empty()) text = childNamed(fault, "faultcode").text().get();
      text = tidy(text);
      if (text.empty()) text = "SOAP Fault";
      return text;
    }
  }
  return htmlText(answer);
}

}  // namespace orvo
