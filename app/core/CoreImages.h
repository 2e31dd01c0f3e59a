#pragma once
// The button and icon images of the login and settings screens ("info.png", "tools.png",
// "back.png", "save.png", "unlock.png", "flash-on-70.png", "flash-off-70.png",
// "barcode-reader-96.png"), drawn at start-up for any name that no resource folder
// provides. Main thread.

namespace orvo {

void registerCoreImages();

}  // namespace orvo
