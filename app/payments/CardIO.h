#pragma once
// The camera card reader the typed entry offers: `CardIOUtilities` says whether the camera
// can read cards and preloads the reader; `CardIOView` is the panel that reads a card and
// tells its delegate the card's number, expiry and picture (or nothing). No reader is built
// in: unless one is installed with `CardIOUtilities::setReader`, the camera cannot read
// cards and the camera button is not offered. Tests install a reader that answers with a
// scripted card. Main thread.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace orvo {

struct CardIOCreditCardInfo {
  std::string cardNumber;
  unsigned expiryMonth = 0;  // 1 to 12; 0 when no expiry was read
  unsigned expiryYear = 0;   // four digits
  std::shared_ptr<ui::Image> cardImage;
};

class CardIOView;

class CardIOViewDelegate {
 public:
  virtual ~CardIOViewDelegate() = default;
  virtual void didScanCard(CardIOView& view, const std::optional<CardIOCreditCardInfo>& info) = 0;
};

// What reads a card: installed by the host; none by default.
class CardIOReader {
 public:
  virtual ~CardIOReader() = default;
  virtual bool canReadCardWithCamera() = 0;
  virtual void preload() {}
  // The panel is on screen: read a card and answer through `view.deliver`.
  virtual void startReading(CardIOView& view) = 0;
};

class CardIOUtilities {
 public:
  static bool canReadCardWithCamera();
  static void preloadCardIO();
  static void setReader(std::shared_ptr<CardIOReader> reader);
  static std::shared_ptr<CardIOReader> reader();
};

class CardIOView : public ui::View {
 public:
  const char* kind() const override { return "CardIOView"; }
  void setDelegate(std::weak_ptr<CardIOViewDelegate> d) { delegate_ = std::move(d); }
  bool scanExpiry = false;
  bool useCardIOLogo = false;
  // Starts the installed reader, if any.
  void startReading();
  // The read card (or nothing) to the delegate.
  void deliver(const std::optional<CardIOCreditCardInfo>& info);

 private:
  std::weak_ptr<CardIOViewDelegate> delegate_;
};

}  // namespace orvo
