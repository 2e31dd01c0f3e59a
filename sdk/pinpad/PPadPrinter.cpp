// The printer some pinpads carry (group 0x42): a host-side print cache sent in commands of
// at most 512 bytes by the "PPadPrinter BT Write Thread", tagged text laid out by the
// receipt printers' layout engine on the pinpad's own text state, paper feed and line
// spacing, bitmaps and the printer's status.
#include <algorithm>
#include <pthread.h>

#include "platform/foundation/ThreadName.h"
#include "sdk/foundation/Dithering.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"
#include "sdk/printer/PrinterCommands.h"

namespace kestra {

namespace {

constexpr size_t kSlice = 512;
constexpr int kBandRows = 512;
constexpr int kStripRows = 24;
constexpr int kRasterBytes = 2016;
constexpr size_t kMaxStripLine = 89;  // 24 rows of it fit one command
constexpr auto kWriteThreadPause = std::chrono::milliseconds(50);
constexpr auto kJobPoll = std::chrono::milliseconds(100);

// The pinpad's printer prints neither inverse nor rotated text: the tags change the state
// and the cell size, but no bytes go out for them.
class PinpadEscapes final : public printer::TextEscapes {
 public:
  void addInverse(foundation::Bytes&, const printer::TextState&) const override {}
  void addRotate(foundation::Bytes&, const printer::TextState&) const override {}
};

bool fail(Error* error, int code, const std::string& text) {
  const Error e = KXUNISDKGlobals::makeError(code, text);
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

bool ppadFail(Error* error, int status) { return fail(error, -16500 - status, ppad::getErrorText(status)); }

void putLE16(Bytes& b, int v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

// Sends the cache in slices while `lock` (on the cache) is held; sent bytes leave the cache,
// the rest stays at its head in order.
bool flushLocked(PPad::Impl& d, Error* error) {
  while (!d.printCache.empty()) {
    const size_t n = std::min(kSlice, d.printCache.size());
    const Bytes slice = withArgs({0x02}, d.printCache.data(), n);
    const int r = d.command(ppad::kGroupPrinter, slice);
    if (r != 0) return ppadFail(error, r);
    d.printCache.erase(d.printCache.begin(), d.printCache.begin() + std::ptrdiff_t(n));
  }
  return true;
}

}  // namespace

int PPad::printerPageWidth() const { return d_->pagewidth; }

int PPad::printerCacheLength() const {
  std::lock_guard<std::mutex> lock(d_->printCacheMutex);
  return int(d_->printCache.size());
}

bool PPad::prnAddToCache(const uint8_t* data, int length, Error* error) {
  auto& d = *d_;
  std::lock_guard<std::mutex> lock(d.printCacheMutex);
  size_t done = 0;
  while (done < size_t(std::max(length, 0))) {
    if (d.printCache.size() >= Impl::kPrintCacheSize && !flushLocked(d, error)) return false;
    const size_t n = std::min(size_t(length) - done, Impl::kPrintCacheSize - d.printCache.size());
    d.printCache.insert(d.printCache.end(), data + done, data + done + n);
    done += n;
  }
  return true;
}

bool PPad::prnWrite(const uint8_t* data, int length, Error* error) {
  if (length <= 0 || !data) return true;
  return prnAddToCache(data, length, error);
}

bool PPad::prnFlushCache(Error* error) {
  std::lock_guard<std::mutex> lock(d_->printCacheMutex);
  return flushLocked(*d_, error);
}

bool PPad::prnWriteDataToChannel(int /*channel*/, const Bytes& data, Error* error) {
  return prnWrite(data.data(), int(std::min<size_t>(data.size(), INT32_MAX)), error);
}

// ---- Write thread ---------------------------------------------------------------------------

void PPad::prnStartWriteThread() {
  auto& d = *d_;
  std::lock_guard<std::mutex> lock(d.writeThreadMutex);
  if (d.writeThreadStarted) return;
  if (d.writeThread.joinable()) d.writeThread.join();  // one that has just ended
  d.writeThreadStop = false;
  d.writeThreadStarted = true;
  // The driver joins the thread before it goes away, so the thread may use it directly.
  d.writeThread = std::thread([this] {
    foundation::setCurrentThreadName("PPadPrinterWrt");  // "PPadPrinter BT Write Thread"
    auto& s = *d_;
    while (!s.writeThreadStop) {
      if (printerCacheLength() > 0) {
        KXUNISDKGlobals::LOG("PRN:Flushihng cache");
        prnFlushCache(nullptr);  // what was not sent is tried again next time
      }
      std::unique_lock<std::mutex> wait(s.writeThreadMutex);
      foundation::Clock::current().waitFor(wait, s.writeThreadWake, kWriteThreadPause,
                                           [&] { return s.writeThreadStop.load(); });
    }
    s.writeThreadStarted = false;
  });
}

void PPad::prnStopWriteThread() {
  auto& d = *d_;
  std::thread t;
  {
    std::lock_guard<std::mutex> lock(d.writeThreadMutex);
    d.writeThreadStop = true;
    t = std::move(d.writeThread);
  }
  d.writeThreadWake.notify_all();
  if (!t.joinable()) return;
  if (t.get_id() == std::this_thread::get_id()) t.detach();
  else t.join();
}

// ---- Text, spacing, paper ---------------------------------------------------------------------

bool PPad::printText(const std::string& text, int encoding, Error* error) {
  if (text.empty()) return true;
  Bytes prepared;
  if (!printer::prepareText(text, encoding, &prepared)) return fail(error, -9, "String conversion failed");
  static const PinpadEscapes escapes;
  std::lock_guard<std::mutex> lock(d_->printTextMutex);
  return printer::layoutText(prepared, encoding, d_->pagewidth, d_->printText, escapes,
                             [&](const Bytes& run) { return prnWrite(run.data(), int(run.size()), error); });
}

bool PPad::printText(const std::string& text, Error* error) {
  return printText(text, printer::kEncodingWindows1252, error);
}

bool PPad::prnPrintText(const std::string& text, Error* error) {
  return printText(text, printer::kEncodingASCII, error);
}

bool PPad::printDelimiter(int character, Error* error) {
  {
    std::lock_guard<std::mutex> lock(d_->printTextMutex);
    d_->printText.reset();
  }
  const Bytes line = printer::delimiterLine(uint8_t(character), d_->pagewidth);
  return prnWrite(line.data(), int(line.size()), error);
}

bool PPad::prnSetLineSpace(int space, Error* error) {
  if (space < 0 || space > 255) return fail(error, -9, "Invalid linespace (0-255)");
  if (space == 0) return true;
  const uint8_t command[] = {0x1B, 0x33, uint8_t(space)};
  return prnWrite(command, 3, error);
}

bool PPad::prnFeedPaper(int lines, Error* error) {
  if (lines < 0) return fail(error, -9, "Inlid number of lines to feed");
  if (lines == 0) lines = d_->feedlines ? 100 : 1;
  while (lines > 0) {
    const int step = std::min(lines, 255);
    const uint8_t command[] = {0x1B, 0x4A, uint8_t(step)};
    if (!prnWrite(command, 3, error)) return false;
    lines -= step;
  }
  return true;
}

bool PPad::prnWaitPrintJob(double timeoutSeconds, Error* error) {
  if (!prnFlushCache(error)) return false;
  auto& clock = foundation::Clock::current();
  const auto end = clock.now() + std::chrono::duration_cast<foundation::Duration>(
                                     std::chrono::duration<double>(std::max(timeoutSeconds, 0.0)));
  while (clock.now() < end) {
    int busy = 0;
    if (!prnGetCapability(3, &busy, error)) return false;
    if (busy == 0) return true;
    ppadPause(kJobPoll);
  }
  return fail(error, 9, "Timeout waiting for print to complete");
}

std::optional<KXPrinterInfo> PPad::prnGetPrinterInfo(Error* error) {
  if (connstate() != 2 || getSupportedFeature(7) == 0) {
    fail(error, -20, "Device not connected");
    return std::nullopt;
  }
  KXPrinterInfo info;
  info.resolutionDPI = 203;
  info.paperWidthPx = d_->pagewidth;
  info.paperWidthInch = 2;
  int present = 0;
  info.paperPresent = prnGetCapability(2, &present) && present != 0;
  return info;
}

// ---- Images -------------------------------------------------------------------------------------

std::optional<Bytes> PPad::getImageData(const KXImage& image, int align, bool reversed, int* linesize) {
  int rowLength = 0;
  const auto dots = getDitheredData(image, align, d_->pagewidth, &rowLength);
  if (!dots || rowLength <= 0) return std::nullopt;
  if (linesize) *linesize = rowLength;
  return printer::packRows(*dots, rowLength * 8, rowLength, reversed);
}

namespace {
int imageOffset(int align, int pageWidth, int width) {
  // An image wider than the paper is scaled down to it: it starts at the left edge.
  if (align == 2) return std::max(pageWidth - std::max(width, 0), 0);
  if (align == 1) return std::max((pageWidth - width) / 2, 0);
  return 0;
}
}  // namespace

bool PPad::prnPrintImage(const KXImage& image, int align, Error* error) {
  int linesize = 0;
  const auto raster = image.valid() ? getImageData(image, 0, true, &linesize) : std::nullopt;
  if (!raster || linesize > kRasterBytes) return fail(error, -9, "Invalid image");
  const int rows = int(raster->size() / size_t(linesize));
  const int x = imageOffset(align, d_->pagewidth, image.width);
  const int perCommand = kRasterBytes / linesize;
  auto send = [&](const Bytes& request, foundation::Duration wait = PPadTransport::kDefaultTimeout) {
    const int r = d_->command(ppad::kGroupPrinter, request, nullptr, true, wait);
    return r == 0 || ppadFail(error, r);
  };
  if (!send({0x06, 0x00}, std::chrono::seconds(3))) return false;
  int lastBand = 0;
  for (int top = 0; top < rows; top += kBandRows) {
    const int band = std::min(kBandRows, rows - top);
    if (band != lastBand) {
      Bytes height = {0x06};
      putLE16(height, band);
      if (!send(height)) return false;
      lastBand = band;
    }
    for (int row = 0; row < band; row += perCommand) {
      const int n = std::min(perCommand, band - row);
      Bytes request = {0x07};
      putLE16(request, x);
      putLE16(request, row);
      putLE16(request, linesize * 8);
      putLE16(request, n);
      const auto* first = raster->data() + size_t(top + row) * size_t(linesize);
      request.insert(request.end(), first, first + size_t(n) * size_t(linesize));
      if (!send(request)) return false;
    }
    if (!send({0x08})) return false;
  }
  return send({0x06, 0x00}, std::chrono::seconds(3));
}

bool PPad::prnPrintImageOld(const KXImage& image, int align, Error* error) {
  int linesize = 0;
  const auto raster = image.valid() ? getImageData(image, 0, true, &linesize) : std::nullopt;
  if (!raster) return fail(error, -9, "Invalid image");
  if (size_t(linesize) > kMaxStripLine) return fail(error, -9, "Image too wide");
  const int rows = int(raster->size() / size_t(linesize));
  const int x = imageOffset(align, d_->pagewidth, image.width);
  for (int top = 0; top < rows; top += kStripRows) {
    const int n = std::min(kStripRows, rows - top);
    Bytes request = {0x03};
    putLE16(request, x);
    putLE16(request, linesize * 8);
    putLE16(request, n);
    const auto* first = raster->data() + size_t(top) * size_t(linesize);
    request.insert(request.end(), first, first + size_t(n) * size_t(linesize));
    if (const int r = d_->command(ppad::kGroupPrinter, request); r != 0) return ppadFail(error, r);
  }
  return true;
}

}  // namespace kestra
