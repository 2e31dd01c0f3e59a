#pragma once
// The device's pictures: the saved-photos album (a folder of JPEG files, by default
// $XDG_DATA_HOME/OrvoMobile/Pictures) that photos are written into, and the image source
// of the image picker that offers the album's pictures and takes photos with the camera.
//
// The camera is the capture device of this layer (`CaptureDevice::defaultVideoDevice`): a
// V4L2 camera gives one grey-scale frame; an image file or folder named by KESTRA_CAMERA
// stands in for it, each photo being the next picture, in colour. Without either the
// camera is not available.
//
// Writing runs on a worker; the completion is called on the main queue, with an error when
// the picture could not be encoded or written (nothing is left half written: the file is
// written under a temporary name and renamed). Main thread, except where said.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImagePickerController.h"

namespace media {

class PhotoAlbum {
 public:
  using Completion = std::function<void(const std::optional<foundation::Error>& error)>;

  // The album's folder; tests and the demo may point it elsewhere.
  static std::filesystem::path folder();
  static void setFolder(std::optional<std::filesystem::path> folder);

  // Writes `image` as a JPEG into the album; `completion` follows on the main queue.
  static void writeImageToSavedPhotosAlbum(std::shared_ptr<const ui::Image> image, Completion completion);
};

// The image picker's source: the album's pictures for the library and the saved-photos
// album, and the camera as described above.
class DevicePhotoSource : public ui::ImagePickerSource {
 public:
  bool isAvailable(ui::ImagePickerSourceType type) override;
  std::vector<std::shared_ptr<ui::Image>> images(ui::ImagePickerSourceType type) override;
  std::shared_ptr<ui::Image> takePhoto() override;

 private:
  size_t nextCameraPicture_ = 0;
};

}  // namespace media
