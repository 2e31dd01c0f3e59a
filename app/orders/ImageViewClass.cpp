#include "app/orders/ImageViewClass.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "app/core/ImageAdditions.h"
#include "app/core/ScreenNavigation.h"
#include "app/core/Util.h"
#include "app/orders/ZMImageSliderViewController.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/HttpClient.h"
#include "platform/ui/Toast.h"
#include "platform/ui/WebImageLoader.h"

namespace orvo {

namespace {

// The probe in flight per image view: a later request for the view replaces it.
std::map<const ui::ImageView*, uint64_t>& pendingProbes() {
  static std::map<const ui::ImageView*, uint64_t> pending;
  return pending;
}

void probeFrom(std::shared_ptr<const std::vector<std::string>> urls, size_t at, ImageViewClass::UrlCompletion done) {
  if (at >= urls->size()) {
    foundation::MainQueue::post([done = std::move(done)] { done(std::nullopt); });
    return;
  }
  net::HttpRequest request;
  request.url = (*urls)[at];
  request.timeout = ImageViewClass::kProbeTimeout;
  net::HttpClient::shared().send(
      std::move(request), [urls, at, done = std::move(done)](std::optional<net::HttpResponse> response, net::Error) {
        if (response && response->status == 200) return done((*urls)[at]);
        probeFrom(urls, at + 1, done);
      });
}

}  // namespace

std::string ImageViewClass::safeName(const std::string& code) {
  std::string out = code;
  for (char& c : out)
    if (std::string_view("/:*?\"<>|").find(c) != std::string_view::npos) c = '-';
  return out;
}

std::vector<std::string> ImageViewClass::candidateUrls(const std::string& style, const std::string& color,
                                                       bool isBackImg, bool isResizedImg) {
  const std::string folder = isResizedImg ? Util::getImgUrl() + "/resizeImages" : Util::getImgUrl();
  const std::string s = safeName(style), c = safeName(color);
  std::vector<std::string> names;
  if (isBackImg)
    names = {s + "_" + c + "_back.jpg", s + "_back.jpg"};
  else
    names = {s + "_" + c + "_front.jpg", s + "_" + c + ".jpg", s + "_front.jpg", s + ".jpg"};
  std::vector<std::string> urls;
  for (const auto& name : names) urls.push_back(Util::percentEscaped(folder + "/" + name));
  return urls;
}

void ImageViewClass::getProductImageUrlString(const std::string& style, const std::string& color, bool isBackImg,
                                              bool isResizedImg, UrlCompletion completion) {
  auto urls = std::make_shared<const std::vector<std::string>>(candidateUrls(style, color, isBackImg, isResizedImg));
  probeFrom(std::move(urls), 0, std::move(completion));
}

void ImageViewClass::setProductImage(const std::shared_ptr<ui::ImageView>& imageView, const std::string& style,
                                     const std::string& color, bool isBackImg, bool isResizedImg) {
  if (!imageView) return;
  static uint64_t nextProbe = 0;
  const uint64_t probe = ++nextProbe;
  const ui::ImageView* key = imageView.get();
  pendingProbes()[key] = probe;
  // Drops a load still running for an earlier address.
  imageView->setImageWithURL("");
  std::weak_ptr<ui::ImageView> weak = imageView;
  getProductImageUrlString(style, color, isBackImg, isResizedImg, [weak, key, probe](std::optional<std::string> url) {
    auto it = pendingProbes().find(key);
    if (it == pendingProbes().end() || it->second != probe) return;
    pendingProbes().erase(it);
    auto view = weak.lock();
    if (view && url) view->setImageWithURL(*url);
  });
}

void ImageViewClass::clearProductImage(const std::shared_ptr<ui::ImageView>& imageView) {
  if (!imageView) return;
  pendingProbes().erase(imageView.get());
  imageView->setImageWithURL("");
}

void ImageViewClass::showImageSlider(ui::ViewController& presenter, const std::string& style,
                                     const std::string& color, int defImgIdx) {
  std::weak_ptr<ui::ViewController> weak = presenter.self<ui::ViewController>();
  getProductImageUrlString(style, color, false, false, [weak, style, color, defImgIdx](std::optional<std::string> front) {
    getProductImageUrlString(style, color, true, false, [weak, style, front, defImgIdx](std::optional<std::string> back) {
      auto presenter = weak.lock();
      if (!presenter) return;
      std::vector<std::string> urls;
      if (front) urls.push_back(*front);
      if (back) urls.push_back(*back);
      if (urls.empty()) {
        ui::makeToast(presenter->view(), kNoImagesMessage, kNoImagesToastDuration, ui::ToastPosition::Center);
        return;
      }
      const int64_t index = std::clamp<int64_t>(defImgIdx, 0, int64_t(urls.size()) - 1);
      auto slider = ZMImageSliderViewController::make(index, urls);
      slider->setTitle(style);
      presentInNewNavigation(*presenter, slider, true, ui::ModalTransitionStyle::CoverVertical);
    });
  });
}

std::shared_ptr<ui::Image> ImageViewClass::imageWithImage(const ui::Image& image, ui::Size size) {
  ui::ImageContext context(size, false, image.scale());
  context.drawImage(image, {0, 0, size.width, size.height});
  return context.image();
}

std::shared_ptr<ui::Image> ImageViewClass::resizeImage(const ui::Image& image, int width, int height) {
  return orvo::resizeImage(image, width, height);
}

void ImageViewClass::initSDImageCache() {
  ui::WebImageLoader::shared().clearMemory();
  ui::WebImageLoader::shared().clearDisk();
}

}  // namespace orvo
