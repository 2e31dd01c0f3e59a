// Magnetic-stripe track parsing of KXUNISDKGlobals.
#include <cctype>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {
namespace {

std::string ascii(const uint8_t* from, const uint8_t* to) { return std::string(from, to); }

bool markerAtStart(const uint8_t* data, int len, uint8_t marker, int* at) {
  for (int i = 0; i < 2 && i < len; ++i)
    if (data[i] == marker) {
      *at = i;
      return true;
    }
  return false;
}

// Upper-cases the first letter of every word and lower-cases the rest.
std::string capitalized(std::string_view s) {
  std::string out(s);
  bool wordStart = true;
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isspace(u)) {
      wordStart = true;
      continue;
    }
    c = char(wordStart ? std::toupper(u) : std::tolower(u));
    wordStart = false;
  }
  return out;
}

std::string withoutSpaces(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out += c;
  return out;
}

std::string_view trimmedSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number its leading digits form, as a text's integer value reads it ("2A" is 2).
int leadingNumber(std::string_view s) {
  int v = 0;
  for (char c : s) {
    if (!isDigit(c)) break;
    v = v * 10 + (c - '0');
  }
  return v;
}

// End position E of a track: its first "?", or its length when there is none or it is the
// first character.
size_t endSentinel(std::string_view t) {
  size_t e = t.find('?');
  return (e == std::string_view::npos || e == 0) ? t.size() : e;
}

// Reads expiry, service code and discretionary data after the separator at `p`. Returns false
// when a field runs outside the track.
bool readFieldsAfter(std::string_view t, size_t p, size_t e, KXFinancialCardDictionary& out) {
  if (p >= t.size()) return false;
  if (isDigit(t[p])) {
    if (p + 3 >= t.size()) return false;
    const int yy = leadingNumber(t.substr(p, 2));
    const int mm = leadingNumber(t.substr(p + 2, 2));
    out[trackkey::expirationYear] = std::to_string(yy < 80 ? 2000 + yy : 1900 + yy);
    out[trackkey::expirationMonth] = std::to_string(mm);
  }
  size_t q = p + 4;
  if (q < t.size()) {
    if (isDigit(t[q])) {
      if (q + 3 > t.size()) return false;
      out[trackkey::serviceCode] = std::string(t.substr(q, 3));
    }
    q += 3;
    if (q < t.size()) {
      if (q > e) return false;
      out[trackkey::discretionaryData] = std::string(t.substr(q, e - q));
    }
  }
  return true;
}

}  // namespace

KXTrackDictionary KXUNISDKGlobals::msExtractTracks(const uint8_t* data, int dataLen, bool reverse) {
  KXTrackDictionary out;
  if (!data || dataLen <= 0) return out;
  int at = 0;

  // 1. CTDOT data: from the marker up to the last non-zero byte.
  if (markerAtStart(data, dataLen, 0xF6, &at)) {
    int last = dataLen - 1;
    while (last > at && data[last] == 0) --last;
    out.bytes[trackkey::trackCTDOT] = Bytes(data + at, data + last + 1);
    return out;
  }

  // 2. The usable length ends at the first zero byte.
  int usable = dataLen;
  for (int i = 0; i < dataLen; ++i)
    if (data[i] == 0) {
      usable = i;
      break;
    }

  // 3. and 4. Single-track layouts announced by their first or second byte.
  if (markerAtStart(data, dataLen, 0xF8, &at)) {
    if (usable > at + 1) out.texts[trackkey::trackF2F] = ascii(data + at + 1, data + usable);
    return out;
  }
  if (markerAtStart(data, dataLen, 0xF5, &at)) {
    if (usable > at + 1) out.texts[trackkey::trackJIS] = ascii(data + at + 1, data + usable);
    return out;
  }
  if (markerAtStart(data, dataLen, 0xF7, &at)) {
    if (usable > at) out.bytes[trackkey::trackPassBook] = Bytes(data + at, data + usable);
    return out;
  }

  // 5. Tracks 1 to 3 at their last markers.
  int m1 = -1, m2 = -1, m3 = -1;
  for (int i = 0; i < usable; ++i) {
    if (data[i] == 0xF1) m1 = i;
    if (data[i] == 0xF2) m2 = i;
    if (data[i] == 0xF3) m3 = i;
  }
  if (m1 < 0 && m2 < 0 && m3 < 0) return msExtractIDTECH(data, dataLen);

  if (m1 >= 0) {
    const int end = m2 >= 0 ? m2 : m3 >= 0 ? m3 : usable;
    if (end > m1) out.texts[reverse ? trackkey::track3 : trackkey::track1] = ascii(data + m1 + 1, data + end);
  }
  if (m2 >= 0) {
    const int end = m3 >= 0 ? m3 : usable;
    if (end > m2) out.texts[trackkey::track2] = ascii(data + m2 + 1, data + end);
  }
  if (m3 >= 0) {
    if (usable > m3) out.texts[reverse ? trackkey::track1 : trackkey::track3] = ascii(data + m3 + 1, data + usable);
  }
  return out;
}

KXTrackDictionary KXUNISDKGlobals::msExtractIDTECH(const uint8_t* data, int dataLen) {
  KXTrackDictionary out;
  if (!data || dataLen < 6) return out;
  if (data[1] != 1 && data[1] != 3) return out;
  const int lengths[3] = {data[3], data[4], data[5]};
  if (6 + lengths[0] + lengths[1] + lengths[2] > dataLen) return out;
  static const char* const kKeys[3] = {trackkey::track1, trackkey::track2, trackkey::track3};
  int pos = 6;
  for (int t = 0; t < 3; ++t) {
    if (lengths[t] > 0) {
      std::string s = ascii(data + pos, data + pos + lengths[t]);
      if (s.back() != '?') s.pop_back();
      out.texts[kKeys[t]] = std::move(s);
    }
    pos += lengths[t];
  }
  return out;
}

std::optional<KXFinancialCardDictionary> KXUNISDKGlobals::msProcessFinancialCard(
    std::optional<std::string_view> track1, std::optional<std::string_view> track2) {
  // 1. Admission.
  if (track1 && track1->size() >= 2 &&
      !((*track1)[0] == '%' && ((*track1)[1] == 'B' || (*track1)[1] == '*')))
    return std::nullopt;
  if (track2 && track2->size() >= 2 && (*track2)[0] != ';') return std::nullopt;

  std::optional<KXFinancialCardDictionary> out;

  // 2. Track 1: %B account ^ name ^ YYMM service discretionary ?
  if (track1 && !track1->empty()) {
    const std::string_view t = *track1;
    KXFinancialCardDictionary d;
    d[trackkey::track1] = std::string(t);
    const size_t e = endSentinel(t);
    const size_t c1 = t.find('^');
    if (c1 == std::string_view::npos || c1 < 2) return std::nullopt;
    d[trackkey::accountNumber] = withoutSpaces(t.substr(2, c1 - 2));
    const size_t c2 = t.find('^', c1 + 1);
    if (c2 == std::string_view::npos) return std::nullopt;
    const std::string_view name = trimmedSpaces(t.substr(c1 + 1, c2 - c1 - 1));
    d[trackkey::cardholderName] = std::string(name);
    const size_t slash = name.find('/');
    if (name.size() > 2 && slash != std::string_view::npos) {
      d[trackkey::lastName] = capitalized(name.substr(0, slash));
      d[trackkey::firstName] = capitalized(name.substr(slash + 1));
    }
    if (!readFieldsAfter(t, c2 + 1, e, d)) return std::nullopt;
    out = std::move(d);
  }

  // 3. Track 2: ; account = YYMM service discretionary ?
  if (track2 && !track2->empty()) {
    const std::string_view t = *track2;
    KXFinancialCardDictionary d = out.value_or(KXFinancialCardDictionary{});
    d[trackkey::track2] = std::string(t);
    const size_t e = endSentinel(t);
    const size_t sep = t.find('=');
    if (sep == std::string_view::npos || sep < 1) return std::nullopt;
    d[trackkey::accountNumber] = withoutSpaces(t.substr(1, sep - 1));
    if (!readFieldsAfter(t, sep + 1, e, d)) return std::nullopt;
    out = std::move(d);
  }

  // 5. Neither track gave anything.
  return out;
}

}  // namespace kestra
