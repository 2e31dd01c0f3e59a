#pragma once
// The application's notification names, user-info keys and alert titles, declared once.
// The texts are the ones the screens use; never change them. User-defaults keys are in
// UserDefaultsKeys.h.

namespace orvo {

// Notifications on the default centre (object nil), posted on the main queue.
inline constexpr const char* kChangeBarcode = "changeBarcode";          // {"lastBarcode"}
inline constexpr const char* kBtnPressed = "btnPressed";                // {"btnPressed": "btnPressed"}
inline constexpr const char* kGetScannerStatus = "getScannerStatus";    // {"connState": "True"/"False"}
inline constexpr const char* kGetMagneticCardData = "getMagneticCardData";
inline constexpr const char* kMultiColorNextBtn = "multiColorNextBtn";

// User-info keys.
inline constexpr const char* kLastBarcode = "lastBarcode";
inline constexpr const char* kConnState = "connState";
inline constexpr const char* kTrack1 = "track1";
inline constexpr const char* kTrack2 = "track2";
inline constexpr const char* kLastCardName = "lastCardName";
inline constexpr const char* kLastCardNumber = "lastCardNumber";
inline constexpr const char* kLastExpDate = "lastExpDate";

// Alert titles.
inline constexpr const char* kAppAlertTitle = "Orvo Mobile";
inline constexpr const char* kRequestFailureTitle = "OrvoMobile";

}  // namespace orvo
