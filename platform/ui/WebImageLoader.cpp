#include "platform/ui/WebImageLoader.h"

#include <fstream>
#include <iterator>
#include <list>
#include <map>
#include <vector>

#include "platform/crypto/Digest.h"
#include "platform/foundation/BackgroundQueue.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/HttpClient.h"
#include "platform/ui/ImageView.h"

namespace ui {

namespace fs = std::filesystem;

// Pictures larger than this are refused rather than read into memory.
constexpr size_t kMaxPictureBytes = size_t(32) << 20;

struct WebImageLoader::State : std::enable_shared_from_this<State> {
  fs::path folder;
  size_t memoryLimit = 0;
  foundation::Duration idleTimeout = std::chrono::seconds(15);
  foundation::Duration totalTimeout = std::chrono::seconds(60);

  // Main thread only.
  struct Entry {
    std::shared_ptr<Image> image;
    size_t bytes = 0;
    std::list<std::string>::iterator use;
  };
  std::map<std::string, Entry> memory;
  std::list<std::string> uses;  // most recent first
  size_t memoryBytes = 0;
  std::map<std::string, std::vector<Completed>> inFlight;

  fs::path pathFor(const std::string& url) const {
    const auto digest = crypto::sha256(reinterpret_cast<const uint8_t*>(url.data()), url.size());
    return folder / foundation::toHex(digest.data(), digest.size());
  }

  void remember(const std::string& url, std::shared_ptr<Image> image) {
    forget(url);
    const size_t bytes = image->rgba().size();
    if (bytes > memoryLimit) return;
    uses.push_front(url);
    memory[url] = {std::move(image), bytes, uses.begin()};
    memoryBytes += bytes;
    while (memoryBytes > memoryLimit && !uses.empty()) forget(uses.back());
  }

  void forget(const std::string& url) {
    auto it = memory.find(url);
    if (it == memory.end()) return;
    memoryBytes -= it->second.bytes;
    uses.erase(it->second.use);
    memory.erase(it);
  }

  void load(const std::string& url, Completed completed) {
    auto it = memory.find(url);
    if (it != memory.end()) {
      auto image = it->second.image;
      uses.splice(uses.begin(), uses, it->second.use);
      foundation::MainQueue::post([image, completed = std::move(completed)] {
        if (completed) completed(image, {}, ImageCacheType::Memory);
      });
      return;
    }
    auto& waiting = inFlight[url];
    waiting.push_back(std::move(completed));
    if (waiting.size() == 1) readDisk(url);
  }

  void finish(const std::string& url, std::shared_ptr<Image> image, const foundation::Error& error,
              ImageCacheType type) {
    if (image) remember(url, image);
    auto node = inFlight.extract(url);
    if (node.empty()) return;
    for (auto& completed : node.mapped())
      if (completed) completed(image, error, type);
  }

  // Worker: the picture kept on disk, if it is there and decodes.
  void readDisk(const std::string& url) {
    auto self = shared_from_this();
    foundation::BackgroundQueue::post([self, url] {
      std::shared_ptr<Image> image;
      std::ifstream in(self->pathFor(url), std::ios::binary);
      if (in) {
        ImageBytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        image = Image::fromData(bytes);
      }
      foundation::MainQueue::post([self, url, image] {
        if (image)
          self->finish(url, image, {}, ImageCacheType::Disk);
        else
          self->fetch(url);
      });
    });
  }

  void fetch(const std::string& url) {
    net::HttpRequest request;
    request.url = url;
    request.timeout = idleTimeout;
    request.resourceTimeout = totalTimeout;
    request.maxResponseSize = kMaxPictureBytes;
    auto self = shared_from_this();
    net::HttpClient::shared().send(request, [self, url](std::optional<net::HttpResponse> response,
                                                        foundation::Error error) {
      if (!response) return self->finish(url, nullptr, error, ImageCacheType::None);
      if (response->status < 200 || response->status >= 300)
        return self->finish(url, nullptr,
                            {kWebImageErrorDomain, response->status,
                             "The server answered HTTP " + std::to_string(response->status) + "."},
                            ImageCacheType::None);
      foundation::BackgroundQueue::post([self, url, body = std::move(response->body)] {
        const ImageBytes bytes(body.begin(), body.end());
        auto image = Image::fromData(bytes);
        if (image) foundation::writeFileAtomically(self->pathFor(url), body, 0600);
        foundation::MainQueue::post([self, url, image] {
          if (image)
            self->finish(url, image, {}, ImageCacheType::None);
          else
            self->finish(url, nullptr, {kWebImageErrorDomain, -1, "The answer is not a JPEG or PNG picture."},
                         ImageCacheType::None);
        });
      });
    });
  }
};

WebImageLoader& WebImageLoader::shared() {
  static WebImageLoader* loader = new WebImageLoader(foundation::Paths::dataDir() / "ImageCache");
  return *loader;
}

WebImageLoader::WebImageLoader(fs::path diskFolder, size_t memoryLimit) : state_(std::make_shared<State>()) {
  state_->folder = std::move(diskFolder);
  state_->memoryLimit = memoryLimit;
}

WebImageLoader::~WebImageLoader() = default;

void WebImageLoader::load(const std::string& url, Completed completed) { state_->load(url, std::move(completed)); }

void WebImageLoader::clearMemory() {
  state_->memory.clear();
  state_->uses.clear();
  state_->memoryBytes = 0;
}

void WebImageLoader::clearDisk(std::function<void()> done) {
  const fs::path folder = state_->folder;
  foundation::BackgroundQueue::post([folder, done = std::move(done)] {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) fs::remove(entry.path(), ec);
    if (done) foundation::MainQueue::post(done);
  });
}

void WebImageLoader::installForImageViews() {
  std::weak_ptr<State> weak = state_;
  ImageView::setImageLoader([weak](const std::string& url, ImageView::Completion done) {
    auto state = weak.lock();
    if (!state) {
      if (done) done(nullptr);
      return;
    }
    state->load(url, [done](std::shared_ptr<Image> image, const foundation::Error&, ImageCacheType) {
      if (done) done(image);
    });
  });
}

size_t WebImageLoader::loadsInFlight() const { return state_->inFlight.size(); }

void WebImageLoader::setTimeouts(foundation::Duration idle, foundation::Duration total) {
  state_->idleTimeout = idle;
  state_->totalTimeout = total;
}

const fs::path& WebImageLoader::diskFolder() const { return state_->folder; }

fs::path WebImageLoader::diskPathFor(const std::string& url) const { return state_->pathFor(url); }

}  // namespace ui
