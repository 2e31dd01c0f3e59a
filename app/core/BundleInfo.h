#pragma once
// Facts of the application bundle and the configuration values the maker fills in: the
// build version, the host that serves over-the-air updates, and the support contacts.

namespace orvo::bundle {

inline constexpr const char* kAppName = "OrvoMobile";
// The bundle's "CFBundleVersion".
inline constexpr const char* CFBundleVersion = "3.5.2";
// Host of the over-the-air installation manifests.
inline constexpr const char* kUpdateHost = "update.orvomobile.example";
// Support contacts opened from the About screen.
inline constexpr const char* kSupportPhoneUrl = "tel:+18005550142";
inline constexpr const char* kSupportMailUrl = "mailto:support@orvomobile.example";
inline constexpr const char* kProductWebsiteUrl = "https://www.orvomobile.example";

}  // namespace orvo::bundle
