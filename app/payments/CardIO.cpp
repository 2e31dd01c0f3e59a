#include "app/payments/CardIO.h"

namespace orvo {

namespace {
std::shared_ptr<CardIOReader>& installed() {
  static std::shared_ptr<CardIOReader> r;
  return r;
}
}  // namespace

bool CardIOUtilities::canReadCardWithCamera() { return installed() && installed()->canReadCardWithCamera(); }
void CardIOUtilities::preloadCardIO() {
  if (installed()) installed()->preload();
}
void CardIOUtilities::setReader(std::shared_ptr<CardIOReader> reader) { installed() = std::move(reader); }
std::shared_ptr<CardIOReader> CardIOUtilities::reader() { return installed(); }

void CardIOView::startReading() {
  if (auto r = installed(); r && r->canReadCardWithCamera()) r->startReading(*this);
}

void CardIOView::deliver(const std::optional<CardIOCreditCardInfo>& info) {
  if (auto d = delegate_.lock()) d->didScanCard(*this, info);
}

}  // namespace orvo
