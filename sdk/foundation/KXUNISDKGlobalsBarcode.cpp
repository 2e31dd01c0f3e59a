// Barcode type conversion and delivery of KXUNISDKGlobals.
#include <array>
#include <mutex>

#include "platform/crypto/Digest.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {
namespace {

// The duplicate filter of scan mode 4: digests of the codes seen since the last reset.
constexpr size_t kFilterCapacity = 49;

struct DuplicateFilter {
  std::mutex mutex;
  std::array<crypto::Sha256Digest, kFilterCapacity> digests{};
  size_t count = 0;

  // Returns true when `digest` was already seen; otherwise remembers it while there is room.
  bool testAndAdd(const crypto::Sha256Digest& digest) {
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = 0; i < count; ++i)
      if (digests[i] == digest) return true;
    if (count < kFilterCapacity) digests[count++] = digest;
    return false;
  }
  void reset() {
    std::lock_guard<std::mutex> lock(mutex);
    count = 0;
  }
};

DuplicateFilter& filter() {
  static DuplicateFilter f;
  return f;
}

constexpr const char* kTypeNames[62] = {
    nullptr,
    "UPC-A",  // type 1 in modes other than 0; "UPC" in mode 0
    "Codabar", "Code 25 NI 2of5", "Code 25 I 2of5", "Code 39", "Code 93", "Code 128", "Code 11",
    "CPC Binary", "DUN 14", "EAN13+2 addon", "EAN13+5 addon", "EAN 8", "EAN 13", "UCC/EAN 128",
    "GS1 DataBar", "ITF14", "Latent image barcode", "Pharmacode", "PLANET", "POSTNET",
    "Intelligent Mail Barcode", "MSI/Plessey", "PostBar", "RM4SCC / KIX", "Telepen",
    "UK/Plessey", "PDF417", "uPDF417", "Data Matrix", "Aztek", "QR Code", "Maxi Code",
    "Reserved", "Reserved", "Reserved", "Reserved", "Reserved", "UPC-A+2", "UPC-A+5", "UPC-E",
    "UPC-E+2", "UPC-E+5", "EAN-13+2", "EAN-13+5", "EAN-8+2", "EAN-8+5", "Code 39 FULL ASCII",
    "Italian Pharmaceutical", "Codabar ABC", "Codabar CX", "S-Code", "Matrix 2of5", "IATA",
    "Korean Postal Authority", "CC-A", "CC-B", "CC-C", "DotCode", "CodaBlock F", "Micro QRCode",
};

// Codes "A" (65) to "y" (121); 0 marks a code without a type.
constexpr signed char kOpticon[57] = {
    /*A*/ 13, /*B*/ 14, /*C*/ 1,  /*D*/ 41, /*E*/ 60, /*F*/ 39, /*G*/ 40, /*H*/ 42, /*I*/ 43,
    /*J*/ 46, /*K*/ 47, /*L*/ 44, /*M*/ 45, /*N*/ 4,  /*O*/ 3,  /*P*/ 54, /*Q*/ 53, /*R*/ 2,
    /*S*/ 50, /*T*/ 7,  /*U*/ 6,  /*V*/ 5,  /*W*/ 48, /*X*/ 0,  /*Y*/ 49, /*Z*/ 23, /*[*/ 0,
    /*\*/ 0,  /*]*/ 0,  /*^*/ 0,  /*_*/ 0,  /*`*/ 0,  /*a*/ 27, /*b*/ 8,  /*c*/ 55, /*d*/ 26,
    /*e*/ 0,  /*f*/ 51, /*g*/ 52, /*h*/ 0,  /*i*/ 0,  /*j*/ 61, /*k*/ 0,  /*l*/ 58, /*m*/ 56,
    /*n*/ 57, /*o*/ 31, /*p*/ 0,  /*q*/ 0,  /*r*/ 28, /*s*/ 29, /*t*/ 30, /*u*/ 32, /*v*/ 33,
    /*w*/ 0,  /*x*/ 0,  /*y*/ 16,
};

struct CodeType {
  int code;
  int type;
};

constexpr CodeType kIntermec[] = {
    {1, 14},  {2, 13},  {3, 1},   {4, 41},  {5, 44},  {6, 46},  {7, 39},  {8, 42},  {9, 45},
    {10, 47}, {11, 40}, {12, 43}, {13, 5},  {15, 4},  {16, 3},  {17, 53}, {19, 2},  {21, 23},
    {22, 23}, {23, 7},  {25, 6},  {26, 8},  {27, 26}, {29, 48}, {31, 60}, {33, 28}, {34, 15},
    {36, 29}, {37, 16}, {38, 16}, {39, 16}, {40, 30}, {41, 32}, {42, 33}, {43, 56}, {44, 56},
    {45, 56}, {46, 56}, {47, 56}, {48, 56}, {49, 56}, {50, 56}, {51, 57}, {52, 57}, {53, 57},
    {54, 57}, {55, 57}, {56, 57}, {57, 57}, {58, 57}, {59, 58}, {61, 21}, {62, 20}, {74, 31},
};

template <class F>
void callSafely(const char* what, F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    KXUNISDKGlobals::LOG("notifyBarcode: delegate threw in %s: %s", what, e.what());
  } catch (...) {
    KXUNISDKGlobals::LOG("notifyBarcode: delegate threw in %s", what);
  }
}

}  // namespace

void KXUNISDKGlobals::filterBarcodeReset() { filter().reset(); }

std::string KXUNISDKGlobals::barcodeType2Text(int type, int barcodeTypeMode) {
  if (type == 1) return barcodeTypeMode == 0 ? "UPC" : "UPC-A";
  if (type < 1 || type > 61) return "Unknown";
  return kTypeNames[type];
}

int KXUNISDKGlobals::opticonBarType2Extended(signed char code) {
  const int index = int(code) - 65;
  if (index < 0 || index >= 57) return -1;
  return kOpticon[index] ? kOpticon[index] : -1;
}

int KXUNISDKGlobals::motorolaBarType2Extended(unsigned char code) {
  switch (code) {
    case 1: return 5;
    case 2: return 2;
    case 3: return 7;
    case 5: return 54;
    case 6: return 4;
    case 7: return 6;
    case 8: return 1;
    case 9: return 41;
    case 10: return 13;
    case 11: return 14;
    case 12: return 8;
    case 14: return 23;
    case 15: return 15;
    case 16: return 41;
    case 17: return 28;
    case 19: return 48;
    case 22: return 14;
    case 26: return 29;
    case 27: return 30;
    case 28: return 32;
    case 30: return 21;
    case 31: return 20;
    case 37: return 33;
    case 38: return 24;
    case 39: return 27;
    case 40: return 28;
    case 72: return 39;
    case 73: return 42;
    case 74: return 46;
    case 75: return 44;
    case 80: return 42;
    case 89: return 58;
    case 136: return 40;
    case 137: return 43;
    case 138: return 47;
    case 139: return 45;
    case 144: return 43;
    case 154: return 28;
    default: break;
  }
  if (code >= 81 && code <= 88) return 56;
  if (code >= 97 && code <= 104) return 57;
  return -1;
}

int KXUNISDKGlobals::intermecBarType2Extended(int code) {
  for (const auto& e : kIntermec)
    if (e.code == code) return e.type;
  return -1;
}

std::string KXUNISDKGlobals::extendedBarType2ISO(int type) {
  switch (type) {
    case 1: case 14: case 41: return "]E0";
    case 2: case 51: return "]F0";
    case 3: return "]S0";
    case 4: return "]I0";
    case 5: return "]A0";
    case 7: case 15: return "]C0";
    case 8: return "]H0";
    case 11: case 12: case 39: case 40: case 42: case 43: case 44: case 45: return "]E3";
    case 13: return "]E4";
    case 16: return "]e0";
    case 23: return "]M0";
    case 26: return "]B0";
    case 28: case 29: return "]L0";
    case 30: return "]d0";
    case 31: return "]z0";
    case 32: return "]Q0";
    case 33: return "]U0";
    case 46: case 47: return "]E7";
    case 48: return "]A4";
    case 50: return "]F1";
    case 56: case 57: case 58: return "]e1";
    case 59: return "]J0";
    default: return "]X0";
  }
}

int KXUNISDKGlobals::isoBarType2Normal(std::string_view iso, std::string_view barcode) {
  const char L = iso.size() > 1 ? iso[1] : '\0';
  const char m = iso.size() > 2 ? iso[2] : '\0';
  if (L == 'X' && (m == '4' || m == '5')) return 14;
  if (L == 'E' && (m == '0' || m == '3'))
    return (barcode.size() != 13 || barcode.substr(0, 1) == "0") ? 1 : 14;
  if (L == 'E' && (m == '4' || m == '7')) return 13;
  if (L == 'F') return 2;
  if (L == 'I') return 4;
  if (L == 'M') return 23;
  if (L == 'A') return 5;
  if (L == 'S') return m == '0' ? 3 : -1;
  if (L == 'X' && m == '0') return 23;
  if (L == 'B') return 26;
  if (L == 'C' && m == '0') return 7;
  if (L == 'C' && m == '1') return 15;
  if (L == 'G' && m == '0') return 6;
  if (L == 'H') return 8;
  if (L == 'L' && (m == '0' || m == '2')) return 28;
  if (L == 'L' && m == '3') return 29;
  if (L == 'Q') return 32;
  if (L == 'd') return 30;
  if (L == 'e' && m == '0') return 16;
  if (L == 'z') return 31;
  if (L == 'J' && m == '0') return 59;
  return -1;
}

void KXUNISDKGlobals::notifyBarcode(const std::vector<std::weak_ptr<KXBarcodeDelegate>>& delegates,
                                    const Bytes& barcode, int barTypeMode, int barScanMode,
                                    int barcodeEngine, bool stripUPCZero) {
  if (barcode.empty()) return;  // no symbology code, nothing to deliver
  LOG("notifyBarcode: %zu bytes, engine: %d", barcode.size(), barcodeEngine);

  // 1. Split the scan into identifier or engine code, and the code bytes.
  std::optional<std::string> iso;
  int type = -1;
  Bytes code;
  if (barcode[0] == ']' && barcode.size() >= 3) {
    iso = std::string(barcode.begin(), barcode.begin() + 3);
    code.assign(barcode.begin() + 3, barcode.end());
  } else {
    const uint8_t engineCode = barcode[0];
    code.assign(barcode.begin() + 1, barcode.end());
    if (barcodeEngine == 1 && engineCode >= 0x20 && engineCode <= 0x7F) {
      if (barTypeMode == 2) {
        type = opticonBarType2Extended(static_cast<signed char>(engineCode));
        iso = extendedBarType2ISO(type);
      } else if (barTypeMode == 1) {
        type = opticonBarType2Extended(static_cast<signed char>(engineCode));
      } else {
        type = engineCode;
      }
    } else if (barcodeEngine == 5) {
      type = motorolaBarType2Extended(engineCode);
      // The engine's own "]xx" identifier after its code byte is dropped.
      if (barcode.size() > 1 && barcode[1] == ']')
        code.assign(barcode.begin() + std::min<size_t>(4, barcode.size()), barcode.end());
    } else {
      type = static_cast<signed char>(engineCode);
    }
    LOG("notifyBarcode: engine code done, type: %d", type);
  }

  // 2. Duplicates in the no-duplicates scan mode.
  if (barScanMode == MODE_MULTI_SCAN_NO_DUPLICATES) {
    if (filter().testAndAdd(crypto::sha256(code))) return;
  }

  // 3. The code as text.
  std::string text(code.begin(), code.end());

  // 4. Scans that carry only an identifier get the SDK's type from it.
  if (iso && type == -1) {
    LOG("notifyBarcode: converting down from ISO");
    type = isoBarType2Normal(*iso, text);
    if (barTypeMode == 1 && type == 1 && text.size() <= 10) type = 41;
  }

  // 5.
  if (barTypeMode == -1) return;

  // 6. A 13-digit UPC-A code with its leading zero.
  if (type == 1 && stripUPCZero && text.size() == 13 && text[0] == '0') {
    LOG("notifyBarcode: stripping UPC");
    text.erase(0, 1);
    code.erase(code.begin());
  }

  // 7. One callback per delegate.
  const std::string isoText = iso.value_or(std::string());
  for (size_t i = 0; i < delegates.size(); ++i) {
    std::shared_ptr<KXBarcodeDelegate> d = delegates[i].lock();
    if (!d) continue;
    if (barTypeMode == 0 || barTypeMode == 1) {
      if (d->responds(sel::barcodeNSData_type)) {
        LOG("notifyBarcode: notifying delegate: %p via way 1", static_cast<void*>(d.get()));
        callSafely("barcodeNSData:type:", [&] { d->barcodeNSData(code, type); });
      } else if (d->responds(sel::barcodeData_type)) {
        LOG("notifyBarcode: notifying delegate: %p via way 2", static_cast<void*>(d.get()));
        callSafely("barcodeData:type:", [&] { d->barcodeData(text, type); });
      }
    } else if (barTypeMode == 2) {
      if (d->responds(sel::barcodeNSData_isotype)) {
        LOG("notifyBarcode: notifying delegate: %p via way 3", static_cast<void*>(d.get()));
        callSafely("barcodeNSData:isotype:", [&] { d->barcodeNSData(code, isoText); });
      } else if (d->responds(sel::barcodeData_isotype)) {
        LOG("notifyBarcode: notifying delegate: %p via way 4", static_cast<void*>(d.get()));
        callSafely("barcodeData:isotype:", [&] { d->barcodeData(text, isoText); });
      }
    }
  }
  foundation::secureClear(text);
}

}  // namespace kestra
