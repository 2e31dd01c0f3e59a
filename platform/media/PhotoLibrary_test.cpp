// The saved-photos album: a written picture is a whole JPEG that only its user can read
// (business-card photos hold people's details).
#include "platform/media/PhotoLibrary.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "platform/foundation/RunLoop.h"

namespace media {
namespace {

namespace fs = std::filesystem;

TEST(PhotoAlbum, AWrittenPictureIsAWholeJpegReadableByItsUserOnly) {
  char tmpl[] = "/tmp/orvo-album-XXXXXX";
  const fs::path dir = ::mkdtemp(tmpl);
  PhotoAlbum::setFolder(dir / "Pictures");
  bool done = false;
  std::optional<foundation::Error> result;
  PhotoAlbum::writeImageToSavedPhotosAlbum(ui::Image::filled({40, 30}, ui::Color::blue()),
                                           [&](const std::optional<foundation::Error>& e) {
                                             result = e;
                                             done = true;
                                           });
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return done; }, std::chrono::seconds(20)));
  EXPECT_FALSE(result) << result->text;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir / "Pictures")) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].extension(), ".jpg");
  struct stat st {};
  ASSERT_EQ(::stat(files[0].c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(ui::Image::fromFile(files[0].string()));
  PhotoAlbum::setFolder(std::nullopt);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace media
