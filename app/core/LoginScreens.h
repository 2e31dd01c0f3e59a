#pragma once
// Registers the login and settings screens by interface-file name ("LoginViewController",
// "SettingsView", "DivisionViewController", "WarehouseViewController",
// "CameraScanViewController", "AboutView") and draws their button images. Main thread.

namespace orvo {

void registerLoginScreens();

}  // namespace orvo
