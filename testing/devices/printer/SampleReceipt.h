#pragma once
// The sample receipt that the demo prints and the receipt test compares with its golden
// picture: a logo, centred and right-aligned text with styles, a delimiter, a justified
// paragraph with word wrap, a Code 128 barcode and a QR code.
//
// `Api` is anything with the device API's printing calls (`KXDevices`, `OKTKXDevices`, or
// an adapter over one printer driver).

#include <cstdlib>

#include "sdk/foundation/KXImage.h"

namespace devices {

// A 96 x 48 picture: a frame and a diagonal.
inline kestra::KXImage sampleLogo() {
  kestra::KXImage img = kestra::KXImage::grey(96, 48, 255);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 96; ++x)
      if (x < 3 || y < 3 || x > 92 || y > 44 || std::abs(x - 2 * y) < 2) img.pixels[size_t(y * 96 + x)] = 0;
  return img;
}

inline constexpr const char* kSampleBarcode = "ORVO-1042";
inline constexpr const char* kSampleQRCode = "https://orvo.example/r/1042";

template <class Api>
bool printSampleReceipt(Api& p) {
  const std::string barcode = kSampleBarcode, qr = kSampleQRCode;
  return p.prnPrintImage(sampleLogo(), 1) &&
         p.prnPrintText("{=C}{+DW}{+B}ORVO STORE{-B}{-DW}\n{=C}12 Harbour Road\n") &&
         p.prnPrintDelimiter('-') &&
         p.prnPrintText("{=L}Order {=R}1042\n{=L}Shirt M blue {=R}2 x 19.90\n{=L}Jacket L {=R}1 x 89.00\n") &&
         p.prnPrintText("{+B}{=L}Total {=R}128.80{-B}\n{=C}{+I}Thank you!{-I} {+U}Come again{-U}\n"
                        "{=C}{+V} PAID {-V}\n{=F1}Font B: 42 characters fit on one line here\n") &&
         p.prnPrintText("{+W}{=J}Goods remain the property of the seller until they are paid in full; "
                        "totals such as 1,250.00 never split.\n") &&
         p.prnSetBarcodeSettings(2, 60, 2, 1) &&
         p.prnPrintBarcode(8, foundation::Bytes(barcode.begin(), barcode.end())) &&
         p.prnPrintBarcodeQRCode(foundation::Bytes(qr.begin(), qr.end()), 1, 4) && p.prnFeedPaper(40) &&
         p.prnFlushCache();
}

}  // namespace devices
