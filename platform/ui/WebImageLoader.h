#pragma once
// Pictures from addresses: an asynchronous loader with a memory cache and a disk cache.
//
// `load(url, completed)` returns at once; `completed` runs once on the main queue with the
// image (or nullptr and an error) and where it came from. A picture is looked up in memory,
// then on disk (a file per address in the cache folder), then fetched with HTTP GET
// (`net::HttpClient`, bounded in time and size); fetched bytes are decoded (JPEG or PNG)
// and written to the disk cache on a worker thread, so neither a large picture nor a slow
// server ever holds up the main thread. Loads of one address in flight at once share one
// fetch. The memory cache keeps the most recently used pictures up to a byte budget.
//
// `shared()` caches in `Paths::dataDir()/ImageCache` and is what `ImageView::setImageWithURL`
// uses once `installForImageViews()` has been called (the application does it at start-up).
// `clearMemory` empties the memory cache at once; `clearDisk` starts emptying the disk
// cache on a worker and does not wait.
//
// Bad input: an answer other than HTTP 2xx, or bytes that are neither JPEG nor PNG, give
// nullptr and an error; nothing undecodable is stored. Main thread, except `clearDisk`'s
// completion, which also runs on the main queue.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/ui/Image.h"

namespace ui {

enum class ImageCacheType { None, Memory, Disk };

// The error domain of answers that were not pictures.
inline constexpr const char* kWebImageErrorDomain = "WebImageErrorDomain";

class WebImageLoader {
 public:
  using Completed = std::function<void(std::shared_ptr<Image> image, const foundation::Error& error,
                                       ImageCacheType cacheType)>;

  static WebImageLoader& shared();

  // `memoryLimit` bytes of decoded pixels are kept in memory.
  explicit WebImageLoader(std::filesystem::path diskFolder, size_t memoryLimit = size_t(64) << 20);
  ~WebImageLoader();
  WebImageLoader(const WebImageLoader&) = delete;
  WebImageLoader& operator=(const WebImageLoader&) = delete;

  void load(const std::string& url, Completed completed);
  void clearMemory();
  void clearDisk(std::function<void()> done = nullptr);
  // Makes `ImageView::setImageWithURL` load through this loader.
  void installForImageViews();

  // How many addresses are being read from disk, fetched or decoded now. When it is 0, no
  // work of this loader is left on its worker threads.
  size_t loadsInFlight() const;

  // The longest a fetch may wait for the server, and take in all.
  void setTimeouts(foundation::Duration idle, foundation::Duration total);
  const std::filesystem::path& diskFolder() const;

  // Where a picture of `url` is kept on disk.
  std::filesystem::path diskPathFor(const std::string& url) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace ui
