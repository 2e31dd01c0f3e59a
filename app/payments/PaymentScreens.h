#pragma once
// The card screens by interface-file name. Main thread.

namespace orvo {

// Registers "CcViewController" (card capture) and "CcSignatureViewController" (signature
// pad, card mode unless the caller sets `soSignFlag`).
void registerPaymentScreens();

}  // namespace orvo
