#include "platform/media/PhotoLibrary.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "platform/foundation/BackgroundQueue.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/Capture.h"

namespace media {

namespace fs = std::filesystem;

namespace {

std::mutex gFolderMutex;
std::optional<fs::path> gFolder;
std::atomic<unsigned> gSequence{0};

bool isPicture(const fs::path& p) {
  auto ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return ext == ".jpg" || ext == ".jpeg" || ext == ".png";
}

std::vector<fs::path> picturesIn(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  if (fs::is_regular_file(dir, ec)) return {dir};
  for (auto& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file(ec) && isPicture(e.path())) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

// The picture files standing in for the camera (KESTRA_CAMERA naming a file or a folder).
std::vector<fs::path> cameraPictures() {
  const char* c = std::getenv("KESTRA_CAMERA");
  if (!c || !*c) return {};
  std::error_code ec;
  if (fs::is_character_file(c, ec)) return {};
  return picturesIn(c);
}

foundation::Error writeError(const std::string& text) { return {foundation::kPosixErrorDomain, EIO, text}; }

std::optional<foundation::Error> writeJpeg(const ui::Image& image, const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return writeError("cannot make the album folder: " + ec.message());
  const auto bytes = image.jpegData(1.0);
  if (bytes.empty()) return writeError("the picture could not be encoded");
  const std::string name = "IMG_" + std::to_string(::getpid()) + "_" + std::to_string(++gSequence);
  // Pictures of business cards hold people's details: readable by this user only, written
  // whole or not at all.
  if (!foundation::writeFileAtomically(
          dir / (name + ".jpg"), std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), 0600))
    return writeError("the picture could not be stored");
  return std::nullopt;
}

}  // namespace

fs::path PhotoAlbum::folder() {
  std::lock_guard<std::mutex> lock(gFolderMutex);
  return gFolder ? *gFolder : foundation::Paths::dataDir() / "Pictures";
}

void PhotoAlbum::setFolder(std::optional<fs::path> f) {
  std::lock_guard<std::mutex> lock(gFolderMutex);
  gFolder = std::move(f);
}

void PhotoAlbum::writeImageToSavedPhotosAlbum(std::shared_ptr<const ui::Image> image, Completion completion) {
  const fs::path dir = folder();
  foundation::BackgroundQueue::post([image = std::move(image), dir, completion = std::move(completion)] {
    auto error = image ? writeJpeg(*image, dir) : std::optional(writeError("no picture"));
    foundation::MainQueue::post([error, completion] {
      if (completion) completion(error);
    });
  });
}

bool DevicePhotoSource::isAvailable(ui::ImagePickerSourceType type) {
  if (type != ui::ImagePickerSourceType::Camera) return true;
  return !cameraPictures().empty() || CaptureDevice::defaultVideoDevice() != nullptr;
}

std::vector<std::shared_ptr<ui::Image>> DevicePhotoSource::images(ui::ImagePickerSourceType type) {
  std::vector<std::shared_ptr<ui::Image>> out;
  if (type == ui::ImagePickerSourceType::Camera) return out;
  for (const auto& p : picturesIn(PhotoAlbum::folder()))
    if (auto img = ui::Image::fromFile(p.string())) out.push_back(std::move(img));
  return out;
}

std::shared_ptr<ui::Image> DevicePhotoSource::takePhoto() {
  if (auto pictures = cameraPictures(); !pictures.empty())
    return ui::Image::fromFile(pictures[nextCameraPicture_++ % pictures.size()].string());
  auto device = CaptureDevice::defaultVideoDevice();
  if (!device || !device->source().open(nullptr)) return nullptr;
  auto frame = device->source().nextFrame();
  device->source().close();
  if (!frame || !frame->valid()) return nullptr;
  std::vector<uint8_t> rgba(frame->luma.size() * 4);
  for (size_t i = 0; i < frame->luma.size(); ++i) {
    rgba[i * 4] = rgba[i * 4 + 1] = rgba[i * 4 + 2] = frame->luma[i];
    rgba[i * 4 + 3] = 255;
  }
  return std::make_shared<ui::Image>(frame->width, frame->height, std::move(rgba));
}

}  // namespace media
