#define ZX_USE_UTF8 1
#include "platform/media/Capture.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/ui/Image.h"

namespace media {

using foundation::Error;
using foundation::fail;

namespace {

struct TypeMap {
  const char* type;
  ZXing::BarcodeFormat format;
};
// Not UPC-A: a UPC-A code reads as an EAN-13 with a leading zero, as on the phone.
const TypeMap kTypes[] = {
    {kMetadataObjectTypeEAN13Code, ZXing::BarcodeFormat::EAN13},
    {kMetadataObjectTypeEAN8Code, ZXing::BarcodeFormat::EAN8},
    {kMetadataObjectTypeUPCECode, ZXing::BarcodeFormat::UPCE},
    {kMetadataObjectTypeCode39Code, ZXing::BarcodeFormat::Code39},
    {kMetadataObjectTypeCode93Code, ZXing::BarcodeFormat::Code93},
    {kMetadataObjectTypeCode128Code, ZXing::BarcodeFormat::Code128},
    {kMetadataObjectTypeITF14Code, ZXing::BarcodeFormat::ITF},
    {kMetadataObjectTypePDF417Code, ZXing::BarcodeFormat::PDF417},
    {kMetadataObjectTypeQRCode, ZXing::BarcodeFormat::QRCode},
    {kMetadataObjectTypeAztecCode, ZXing::BarcodeFormat::Aztec},
    {kMetadataObjectTypeDataMatrixCode, ZXing::BarcodeFormat::DataMatrix},
};

std::optional<ZXing::BarcodeFormat> formatOf(const std::string& type) {
  for (auto& t : kTypes)
    if (type == t.type) return t.format;
  return std::nullopt;
}

const char* typeOf(ZXing::BarcodeFormat f) {
  for (auto& t : kTypes)
    if (t.format == f) return t.type;
  return nullptr;
}

std::mutex gFactoryMutex;
std::function<std::shared_ptr<CaptureDevice>()> gFactory;

int xioctl(int fd, unsigned long req, void* arg) {
  int r;
  do {
    r = ::ioctl(fd, req, arg);
  } while (r == -1 && errno == EINTR);
  return r;
}

}  // namespace

const std::vector<std::string>& supportedMetadataObjectTypes() {
  static const std::vector<std::string> types = [] {
    std::vector<std::string> v;
    for (auto& t : kTypes) v.push_back(t.type);
    return v;
  }();
  return types;
}

std::vector<MetadataObject> readBarcodes(const Frame& frame, const std::vector<std::string>& types) {
  std::vector<MetadataObject> out;
  if (!frame.valid()) return out;
  ZXing::BarcodeFormats formats;
  for (auto& t : types)
    if (auto f = formatOf(t)) formats |= *f;
  if (formats.empty()) return out;
  ZXing::DecodeHints hints;
  hints.setFormats(formats);
  hints.setTryHarder(true);
  hints.setTryRotate(true);
  ZXing::ImageView view(frame.luma.data(), frame.width, frame.height, ZXing::ImageFormat::Lum);
  for (auto& r : ZXing::ReadBarcodes(view, hints)) {
    if (!r.isValid()) continue;
    const char* type = typeOf(r.format());
    if (!type) continue;
    MetadataObject m;
    m.type = type;
    m.stringValue = r.text();
    const auto& p = r.position();
    int minX = frame.width, minY = frame.height, maxX = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
      minX = std::min(minX, p[i].x);
      minY = std::min(minY, p[i].y);
      maxX = std::max(maxX, p[i].x);
      maxY = std::max(maxY, p[i].y);
    }
    if (maxX < minX) minX = maxX = 0;
    if (maxY < minY) minY = maxY = 0;
    // A linear code is found along a line; give its box some height to frame it.
    if (maxY - minY < frame.height / 20) {
      int grow = frame.height / 10;
      minY = std::max(0, minY - grow);
      maxY = std::min(frame.height, maxY + grow);
    }
    m.bounds = {double(minX) / frame.width, double(minY) / frame.height,
                double(maxX - minX) / frame.width, double(maxY - minY) / frame.height};
    out.push_back(std::move(m));
  }
  return out;
}

std::optional<Frame> frameFromImageFile(const std::string& path, Error* error) {
  auto image = ui::Image::fromFile(path);
  if (!image) {
    fail(error, Error(foundation::kPosixErrorDomain, EINVAL, "cannot read image " + path));
    return std::nullopt;
  }
  Frame f;
  f.width = image->pixelWidth();
  f.height = image->pixelHeight();
  f.luma.resize(size_t(f.width) * f.height);
  const auto& rgba = image->rgba();
  for (size_t i = 0; i < f.luma.size(); ++i) {
    unsigned a = rgba[i * 4 + 3];
    // Transparent parts count as white paper.
    auto blend = [a](unsigned c) { return (c * a + 255 * (255 - a)) / 255; };
    f.luma[i] = ZXing::RGBToLum(blend(rgba[i * 4]), blend(rgba[i * 4 + 1]), blend(rgba[i * 4 + 2]));
  }
  return f;
}

std::optional<Frame> renderBarcode(const std::string& type, const std::string& text, int width,
                                   int height, int margin) {
  auto format = formatOf(type);
  if (!format || width <= 2 * margin || height <= 2 * margin) return std::nullopt;
  try {
    ZXing::MultiFormatWriter writer(*format);
    writer.setMargin(0);
    int w = width - 2 * margin, h = height - 2 * margin;
    if (*format == ZXing::BarcodeFormat::QRCode) w = h = std::min(w, h);
    ZXing::BitMatrix m = writer.encode(text, w, h);
    Frame f;
    f.width = width;
    f.height = height;
    f.luma.assign(size_t(width) * height, 255);
    int ox = (width - m.width()) / 2, oy = (height - m.height()) / 2;
    for (int y = 0; y < m.height(); ++y)
      for (int x = 0; x < m.width(); ++x)
        if (m.get(x, y) && ox + x >= 0 && ox + x < width && oy + y >= 0 && oy + y < height)
          f.luma[size_t(oy + y) * width + ox + x] = 0;
    return f;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// ----- ScriptedFrameSource

void ScriptedFrameSource::push(Frame frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.emplace_back(std::move(frame), std::nullopt);
  cv_.notify_all();
}

void ScriptedFrameSource::pushMetadata(std::vector<MetadataObject> objects) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.emplace_back(Frame{}, std::move(objects));
  cv_.notify_all();
}

int ScriptedFrameSource::taken() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return taken_;
}

bool ScriptedFrameSource::open(Error*) {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = false;
  return true;
}

std::optional<Frame> ScriptedFrameSource::nextFrame() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return closed_ || !queue_.empty(); });
  if (closed_) return std::nullopt;
  auto item = std::move(queue_.front());
  queue_.pop_front();
  ++taken_;
  current_ = std::move(item.second);
  return std::move(item.first);
}

std::optional<std::vector<MetadataObject>> ScriptedFrameSource::takeScriptedMetadata() {
  std::lock_guard<std::mutex> lock(mutex_);
  auto c = std::move(current_);
  current_.reset();
  return c;
}

void ScriptedFrameSource::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  cv_.notify_all();
}

bool ScriptedFrameSource::setTorch(bool on) {
  if (!torch_) return false;
  torchOn_ = on;
  return true;
}

// ----- ImageFileFrameSource

ImageFileFrameSource::ImageFileFrameSource(std::vector<std::string> paths,
                                           std::chrono::milliseconds interval)
    : paths_(std::move(paths)), interval_(interval) {}

bool ImageFileFrameSource::open(Error* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  frames_.clear();
  for (auto& p : paths_) {
    if (auto f = frameFromImageFile(p, error)) frames_.push_back(std::move(*f));
  }
  closed_ = false;
  next_ = 0;
  if (frames_.empty())
    return fail(error, Error(foundation::kPosixErrorDomain, ENOENT, "no readable image"));
  return true;
}

std::optional<Frame> ImageFileFrameSource::nextFrame() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_ || frames_.empty()) return std::nullopt;
  // Real time: a camera shows pictures at its own pace.
  if (cv_.wait_for(lock, interval_, [&] { return closed_; })) return std::nullopt;
  Frame f = frames_[next_ % frames_.size()];
  ++next_;
  return f;
}

void ImageFileFrameSource::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  cv_.notify_all();
}

// ----- V4L2FrameSource

V4L2FrameSource::V4L2FrameSource(std::string path, int width, int height)
    : path_(std::move(path)), width_(width), height_(height) {}

V4L2FrameSource::~V4L2FrameSource() {
  close();
  releaseBuffers();
  if (fd_ >= 0) ::close(fd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void V4L2FrameSource::releaseBuffers() {
  if (fd_ >= 0 && !buffers_.empty()) {
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    xioctl(fd_, VIDIOC_STREAMOFF, &type);
  }
  for (auto& b : buffers_)
    if (b.start && b.start != MAP_FAILED) ::munmap(b.start, b.length);
  buffers_.clear();
}

bool V4L2FrameSource::open(Error* error) {
  auto posix = [&](const std::string& what) {
    return fail(error, Error(foundation::kPosixErrorDomain, errno, what + ": " + std::strerror(errno)));
  };
  closed_ = false;
  if (fd_ < 0) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return posix("open " + path_);
  }
  if (wakeFd_ < 0) wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  fmt.fmt.pix.width = width_;
  fmt.fmt.pix.height = height_;
  fmt.fmt.pix.field = V4L2_FIELD_ANY;
  fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
  if (xioctl(fd_, VIDIOC_S_FMT, &fmt) < 0) {
    fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_GREY;
    if (xioctl(fd_, VIDIOC_S_FMT, &fmt) < 0) return posix("set format");
  }
  pixelFormat_ = fmt.fmt.pix.pixelformat;
  if (pixelFormat_ != V4L2_PIX_FMT_YUYV && pixelFormat_ != V4L2_PIX_FMT_GREY) {
    errno = ENOTSUP;
    return posix("pixel format");
  }
  width_ = fmt.fmt.pix.width;
  height_ = fmt.fmt.pix.height;
  bytesPerLine_ = fmt.fmt.pix.bytesperline;
  v4l2_requestbuffers req{};
  req.count = 4;
  req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  req.memory = V4L2_MEMORY_MMAP;
  if (xioctl(fd_, VIDIOC_REQBUFS, &req) < 0 || req.count < 1) return posix("request buffers");
  for (unsigned i = 0; i < req.count; ++i) {
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    buf.index = i;
    if (xioctl(fd_, VIDIOC_QUERYBUF, &buf) < 0) return posix("query buffer");
    Buffer b;
    b.length = buf.length;
    b.start = ::mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buf.m.offset);
    if (b.start == MAP_FAILED) return posix("map buffer");
    buffers_.push_back(b);
    if (xioctl(fd_, VIDIOC_QBUF, &buf) < 0) return posix("queue buffer");
  }
  v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (xioctl(fd_, VIDIOC_STREAMON, &type) < 0) return posix("stream on");
  return true;
}

std::optional<Frame> V4L2FrameSource::nextFrame() {
  while (!closed_ && fd_ >= 0) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int n = ::poll(fds, 2, 2000);
    if (n < 0 && errno != EINTR) return std::nullopt;
    if (closed_) return std::nullopt;
    if (n <= 0 || !(fds[0].revents & POLLIN)) continue;
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd_, VIDIOC_DQBUF, &buf) < 0) {
      if (errno == EAGAIN) continue;
      return std::nullopt;
    }
    Frame f;
    f.width = width_;
    f.height = height_;
    f.luma.resize(size_t(width_) * height_);
    const auto* src = static_cast<const uint8_t*>(buffers_[buf.index].start);
    int step = pixelFormat_ == V4L2_PIX_FMT_YUYV ? 2 : 1;
    int stride = bytesPerLine_ > 0 ? bytesPerLine_ : width_ * step;
    if (size_t(stride) * height_ <= buf.bytesused || buf.bytesused == 0) {
      for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) f.luma[size_t(y) * width_ + x] = src[size_t(y) * stride + x * step];
    }
    xioctl(fd_, VIDIOC_QBUF, &buf);
    return f;
  }
  return std::nullopt;
}

void V4L2FrameSource::close() {
  closed_ = true;
  if (wakeFd_ >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] auto r = ::write(wakeFd_, &one, sizeof one);
  }
}

bool V4L2FrameSource::hasTorch() const {
  if (fd_ < 0) return false;
  v4l2_queryctrl q{};
  q.id = V4L2_CID_FLASH_LED_MODE;
  return xioctl(fd_, VIDIOC_QUERYCTRL, &q) == 0 && !(q.flags & V4L2_CTRL_FLAG_DISABLED) &&
         q.maximum >= V4L2_FLASH_LED_MODE_TORCH;
}

bool V4L2FrameSource::setTorch(bool on) {
  if (!hasTorch()) return false;
  v4l2_control c{};
  c.id = V4L2_CID_FLASH_LED_MODE;
  c.value = on ? V4L2_FLASH_LED_MODE_TORCH : V4L2_FLASH_LED_MODE_NONE;
  return xioctl(fd_, VIDIOC_S_CTRL, &c) == 0;
}

// ----- CaptureDevice

CaptureDevice::CaptureDevice(std::shared_ptr<FrameSource> source, std::string name)
    : source_(std::move(source)), name_(std::move(name)) {}

std::shared_ptr<CaptureDevice> CaptureDevice::defaultVideoDevice() {
  {
    std::lock_guard<std::mutex> lock(gFactoryMutex);
    if (gFactory) return gFactory();
  }
  std::string path = "/dev/video0";
  if (const char* c = std::getenv("KESTRA_CAMERA"); c && *c) path = c;
  std::error_code ec;
  auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) return nullptr;
  if (std::filesystem::is_character_file(status))
    return std::make_shared<CaptureDevice>(std::make_shared<V4L2FrameSource>(path), path);
  std::vector<std::string> files;
  if (std::filesystem::is_directory(status)) {
    for (auto& e : std::filesystem::directory_iterator(path, ec)) {
      auto ext = e.path().extension().string();
      if (ext == ".png" || ext == ".jpg" || ext == ".jpeg") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
  } else {
    files.push_back(path);
  }
  if (files.empty()) return nullptr;
  return std::make_shared<CaptureDevice>(std::make_shared<ImageFileFrameSource>(files), path);
}

void CaptureDevice::setDefaultVideoDeviceFactory(std::function<std::shared_ptr<CaptureDevice>()> factory) {
  std::lock_guard<std::mutex> lock(gFactoryMutex);
  gFactory = std::move(factory);
}

bool CaptureDevice::lockForConfiguration(Error* error) {
  if (!source_->hasTorch())
    return fail(error, Error(foundation::kPosixErrorDomain, ENOTSUP, "device has nothing to configure"));
  locked_ = true;
  return true;
}

void CaptureDevice::setTorchMode(TorchMode mode) {
  if (!locked_ || !isTorchModeSupported(mode)) return;
  if (source_->setTorch(mode == TorchMode::On)) torch_ = mode;
}

// ----- CaptureMetadataOutput

void CaptureMetadataOutput::setMetadataObjectTypes(std::vector<std::string> types) {
  std::lock_guard<std::mutex> lock(mutex_);
  types_.clear();
  for (auto& t : types)
    if (formatOf(t)) types_.push_back(t);
}

void CaptureMetadataOutput::setMetadataObjectsDelegate(std::weak_ptr<MetadataOutputObjectsDelegate> delegate,
                                                       std::string queueName) {
  std::lock_guard<std::mutex> lock(mutex_);
  delegate_ = std::move(delegate);
  queueName_ = std::move(queueName);
}

// ----- CaptureSession

CaptureSession::~CaptureSession() { stopRunning(); }

void CaptureSession::addInput(std::shared_ptr<CaptureDevice> device) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!input_) input_ = std::move(device);
}

void CaptureSession::addOutput(std::shared_ptr<CaptureMetadataOutput> output) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!output_) output_ = std::move(output);
}

void CaptureSession::setFrameObserver(std::function<void(const Frame&)> observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  frameObserver_ = std::move(observer);
}

void CaptureSession::startRunning() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_ || !input_) return;
  if (worker_.joinable()) worker_.join();
  if (!input_->source().open(nullptr)) return;
  running_ = true;
  worker_ = std::thread([this] { work(); });
}

void CaptureSession::stopRunning() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    if (input_) input_->source().close();
    worker = std::move(worker_);
  }
  if (worker.joinable() && worker.get_id() != std::this_thread::get_id()) worker.join();
  else if (worker.joinable()) worker.detach();
}

void CaptureSession::work() {
  std::shared_ptr<CaptureDevice> input;
  std::shared_ptr<CaptureMetadataOutput> output;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    input = input_;
    output = output_;
  }
  if (output) {
    std::string name = output->queueName().substr(0, 15);
    ::pthread_setname_np(::pthread_self(), name.c_str());
  }
  auto* scripted = dynamic_cast<ScriptedFrameSource*>(&input->source());
  bool hadObjects = false;
  while (running_) {
    auto frame = input->source().nextFrame();
    if (!frame || !running_) break;
    std::optional<std::vector<MetadataObject>> objects;
    if (scripted) objects = scripted->takeScriptedMetadata();
    if (frame->valid()) {
      std::function<void(const Frame&)> observer;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        observer = frameObserver_;
      }
      if (observer) observer(*frame);
    }
    if (!output) continue;
    std::vector<std::string> types;
    std::shared_ptr<MetadataOutputObjectsDelegate> delegate;
    {
      std::lock_guard<std::mutex> lock(output->mutex_);
      types = output->types_;
      delegate = output->delegate_.lock();
    }
    if (!objects) {
      objects = readBarcodes(*frame, types);
      // Like the phone: frames with codes are reported, and one empty report when they go.
      if (objects->empty() && !hadObjects) continue;
    } else {
      std::vector<MetadataObject> kept;
      for (auto& o : *objects)
        if (std::find(types.begin(), types.end(), o.type) != types.end()) kept.push_back(o);
      objects = std::move(kept);
    }
    hadObjects = !objects->empty();
    if (delegate) delegate->didOutputMetadataObjects(*output, *objects);
  }
}

}  // namespace media
