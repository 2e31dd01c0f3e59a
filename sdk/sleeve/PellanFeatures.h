#pragma once
// What a connected sleeve supports, derived from its identification: the model string is a
// run of two-letter capability codes ("XBCMAM"), read in pairs from its start; a few
// answers also depend on the device name and the firmware number.
//
// Pure functions; safe on any thread. Model strings of any length are read in place.

#include <string_view>

#include "platform/foundation/Error.h"

namespace kestra::pellan {

// True when `code` (two characters) is one of the pairs of `model` at an even offset.
bool featCheck(std::string_view model, std::string_view code);

struct FeatureContext {
  std::string_view deviceModel;
  std::string_view deviceName;
  int fwVer = 0;
  bool btFeature = false;
};

// The feature's value, non-zero when supported. An unsupported feature gives 0 and fills
// `error` with code 0 and "Feature not supported on the connected device(s)"; features 2 and
// 5 never fail.
int supportedFeature(const FeatureContext& context, int feature, foundation::Error* error);

}  // namespace kestra::pellan
