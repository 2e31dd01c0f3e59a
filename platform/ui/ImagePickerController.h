#pragma once
// The image picker: a screen that offers the images of one source (the photo library, the
// saved photos album or the camera) to choose from. A screen asks whether the source is
// available, sets it, presents the picker and hears the delegate once: the chosen image
// with its media type ("public.image"), or a cancel. As on the platform, the delegate
// dismisses the picker.
//
// Images come from an installed image source (a folder of pictures, a camera, a fake in
// tests); without one no source is available. The camera is a source like the others:
// its one offer is the photo it takes when the user presses "Take Photo". Main thread.

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Image.h"
#include "platform/ui/ViewController.h"

namespace ui {

class ImagePickerController;

enum class ImagePickerSourceType { PhotoLibrary, Camera, SavedPhotosAlbum };

inline constexpr const char* kMediaTypeImage = "public.image";

struct PickedMedia {
  std::string mediaType;  // kMediaTypeImage
  std::shared_ptr<Image> originalImage;
};

class ImagePickerSource {
 public:
  virtual ~ImagePickerSource() = default;
  virtual bool isAvailable(ImagePickerSourceType type) = 0;
  // The images to choose from (library, album).
  virtual std::vector<std::shared_ptr<Image>> images(ImagePickerSourceType type) = 0;
  // A new photo from the camera (nullptr when taking one failed).
  virtual std::shared_ptr<Image> takePhoto() { return nullptr; }
};

class ImagePickerControllerDelegate {
 public:
  virtual ~ImagePickerControllerDelegate() = default;
  virtual void didFinishPickingMediaWithInfo(ImagePickerController& picker, const PickedMedia& info) = 0;
  virtual void imagePickerControllerDidCancel(ImagePickerController& picker) = 0;
};

class ImagePickerController : public ViewController {
 public:
  ImagePickerController();

  static bool isSourceTypeAvailable(ImagePickerSourceType type);
  // Installs the image source (nullptr: none).
  static void setImageSource(std::shared_ptr<ImagePickerSource> source);

  ImagePickerSourceType sourceType() const { return source_; }
  void setSourceType(ImagePickerSourceType s) { source_ = s; }
  // Only images are offered; a list without kMediaTypeImage offers nothing.
  const std::vector<std::string>& mediaTypes() const { return mediaTypes_; }
  void setMediaTypes(std::vector<std::string> types) { mediaTypes_ = std::move(types); }
  bool allowsEditing() const { return allowsEditing_; }
  void setAllowsEditing(bool e) { allowsEditing_ = e; }
  void setDelegate(std::weak_ptr<ImagePickerControllerDelegate> d) { delegate_ = std::move(d); }

  // What the picker offers now (filled when its view loads; the camera's photo once taken).
  const std::vector<std::shared_ptr<Image>>& offeredImages() const { return offered_; }
  // The user's answers: the image at `index` of the offer, the camera's shutter, cancel.
  // False when there is no such image, the camera gave none, or the picker finished.
  bool userPickImage(size_t index);
  bool userTakePhoto();
  void userCancel();
  bool isFinished() const { return finished_; }

  void loadView() override;

 private:
  void offer();
  ImagePickerSourceType source_ = ImagePickerSourceType::PhotoLibrary;
  std::vector<std::string> mediaTypes_{kMediaTypeImage};
  bool allowsEditing_ = false;
  std::weak_ptr<ImagePickerControllerDelegate> delegate_;
  std::vector<std::shared_ptr<Image>> offered_;
  bool finished_ = false;
};

}  // namespace ui
