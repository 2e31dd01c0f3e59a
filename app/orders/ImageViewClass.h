#pragma once
// The pictures of a style and colour that the back office publishes as JPEG files below
// "/styleimages" (full size) and "/styleimages/resizeImages" (reduced): their candidate
// addresses in a fixed order, the probe that finds the first one that exists, loading it
// into an image view, the full-screen slider of a style's pictures, two image functions and
// the clearing of the picture cache.
//
// Probing never blocks: each candidate is asked for with a GET of at most
// `kProbeTimeout` idle time on the HTTP client's worker, one after another in the
// candidate order, and the outcome comes back on the main queue. A missing picture, a
// server that cannot be reached or a time-out only moves on to the next candidate; when none
// answers HTTP 200 the result is nothing (an empty image view, or the toast "There are no
// style images." instead of the slider). No probe result is kept: every call probes again;
// the pictures themselves are cached by the image loader (`ui::WebImageLoader`).
//
// Stateless class functions; main thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class ImageViewClass {
 public:
  // The longest one candidate may keep the probe waiting for the server.
  static constexpr foundation::Duration kProbeTimeout = std::chrono::seconds(5);
  // How long the toast "There are no style images." stays, in seconds.
  static constexpr double kNoImagesToastDuration = 1.0;
  static constexpr const char* kNoImagesMessage = "There are no style images.";

  // `code` with each / : * ? " < > | replaced by "-" (a backslash stays).
  static std::string safeName(const std::string& code);
  // The candidate addresses in probing order, percent-escaped: the front picture
  // "<style>_<color>_front.jpg", "<style>_<color>.jpg", "<style>_front.jpg", "<style>.jpg";
  // the back picture "<style>_<color>_back.jpg", "<style>_back.jpg"; below the folder of
  // the server in the user defaults "serverIP" and "serverPort".
  static std::vector<std::string> candidateUrls(const std::string& style, const std::string& color, bool isBackImg,
                                                bool isResizedImg);

  using UrlCompletion = std::function<void(std::optional<std::string> url)>;
  // Probes the candidates in order; `completion` gets the first address that answered
  // HTTP 200, or nothing. It runs on the main queue, never before this returns.
  static void getProductImageUrlString(const std::string& style, const std::string& color, bool isBackImg,
                                       bool isResizedImg, UrlCompletion completion);

  // Empties `imageView` at once, then probes and loads the picture found into it through
  // the image loader. A later call for the same view wins over one still probing; a view
  // that goes away meanwhile is left alone.
  static void setProductImage(const std::shared_ptr<ui::ImageView>& imageView, const std::string& style,
                              const std::string& color, bool isBackImg, bool isResizedImg);

  // Empties `imageView` and forgets a probe still running for it.
  static void clearProductImage(const std::shared_ptr<ui::ImageView>& imageView);

  // Probes the front and then the back picture (full size) and presents the slider of
  // those found, front first, from `presenter` in a new navigation controller titled with
  // the style, opening at picture `defImgIdx` (held within the pictures found: a tap on the
  // back view of a style with one picture opens that picture). None found: the toast
  // "There are no style images." for 1 s in the middle of the presenter's view. Nothing
  // happens when the presenter has gone by then.
  static void showImageSlider(ui::ViewController& presenter, const std::string& style, const std::string& color,
                              int defImgIdx = 0);

  // `image` drawn into a new image of `size` points at the image's own scale.
  static std::shared_ptr<ui::Image> imageWithImage(const ui::Image& image, ui::Size size);
  // `image` drawn into exactly `width` x `height` pixels, its aspect ratio not kept.
  static std::shared_ptr<ui::Image> resizeImage(const ui::Image& image, int width, int height);

  // Empties the picture loader's memory cache and starts emptying its disk cache.
  static void initSDImageCache();
};

}  // namespace orvo
