#pragma once
// The item list's button images ("manual-plus2-70.png", "camera2-70.png") and the number
// pad's keys ("key-camera-70.png", "key-clear-60.png"), drawn once unless a resource of
// the same name is already registered. Main thread.

namespace orvo {

void registerOrderImages();

}  // namespace orvo
