#pragma once
// Notification names and user-info keys of the card screens, declared once.

namespace orvo {

// Posted by the signature pad: card mode, order mode. {"isClear": "true"/"false"}
inline constexpr const char* kGetSignature = "getSignature";
inline constexpr const char* kGetSignatureForSo = "getSignatureForSo";
inline constexpr const char* kIsClear = "isClear";
// Posted by the typed and camera card entry, with the swipe keys and "cvv", "zipcode".
inline constexpr const char* kSetCCdata = "setCCdata";
inline constexpr const char* kCvv = "cvv";
inline constexpr const char* kZipcode = "zipcode";
// Posted by the cards on file. {"isDone": "true"/"false"}
inline constexpr const char* kSetDefaultCcDone = "setDefaultCcDone";
inline constexpr const char* kIsDone = "isDone";

// Interface-file names under which the screens are registered.
inline constexpr const char* kCcViewController = "CcViewController";
inline constexpr const char* kCcSignatureViewController = "CcSignatureViewController";
inline constexpr const char* kCcListTableViewController = "CcListTableViewController";
inline constexpr const char* kCcManualAndCameraTableViewController = "CcManualAndCameraTableViewController";

}  // namespace orvo
