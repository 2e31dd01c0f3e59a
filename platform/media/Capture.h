#pragma once
// Camera capture with barcode metadata: a capture device (a frame source and its torch), a
// session that runs the device on a worker thread, and a metadata output that reads the
// codes in every frame (ZXing-cpp) and hands them to its delegate on that thread, which is
// named "scanQueue" by the caller.
//
// Devices: `CaptureDevice::defaultVideoDevice()` is a V4L2 camera (/dev/video0, or the
// path in KESTRA_CAMERA), or an image file or a folder of images named by KESTRA_CAMERA,
// or none. Tests install their own factory with `setDefaultVideoDeviceFactory` and feed a
// `ScriptedFrameSource`.
//
// Ownership and threads: the session holds its input device and output; `startRunning`
// starts the worker, `stopRunning` ends it and returns only after the last delegate call
// has finished (so it must not be called from a delegate call that waits for the caller).
// Delegates are held weakly. Device configuration (torch) is for the main thread.
//
// Bad input: frames that are empty or of inconsistent size are skipped; images that cannot
// be decoded are reported by the source as errors and give no frames.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Error.h"

namespace media {

// Metadata object types (the texts are this layer's own identifiers).
inline constexpr const char* kMetadataObjectTypeEAN13Code = "org.gs1.EAN-13";
inline constexpr const char* kMetadataObjectTypeEAN8Code = "org.gs1.EAN-8";
inline constexpr const char* kMetadataObjectTypeUPCECode = "org.gs1.UPC-E";
inline constexpr const char* kMetadataObjectTypeCode39Code = "org.iso.Code39";
inline constexpr const char* kMetadataObjectTypeCode93Code = "com.intermec.Code93";
inline constexpr const char* kMetadataObjectTypeCode128Code = "org.iso.Code128";
inline constexpr const char* kMetadataObjectTypeITF14Code = "org.gs1.ITF14";
inline constexpr const char* kMetadataObjectTypePDF417Code = "org.iso.PDF417";
inline constexpr const char* kMetadataObjectTypeQRCode = "org.iso.QRCode";
inline constexpr const char* kMetadataObjectTypeAztecCode = "org.iso.Aztec";
inline constexpr const char* kMetadataObjectTypeDataMatrixCode = "org.iso.DataMatrix";

// Bounds in the frame, normalised to 0..1 on both axes (origin top left).
struct NormalizedRect {
  double x = 0, y = 0, width = 0, height = 0;
  bool operator==(const NormalizedRect&) const = default;
};

struct MetadataObject {
  std::string type;
  std::optional<std::string> stringValue;
  NormalizedRect bounds;
};

// One grey-scale picture: `width * height` bytes, row by row.
struct Frame {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> luma;
  bool valid() const { return width > 0 && height > 0 && luma.size() == size_t(width) * size_t(height); }
};

// Reads the codes of the given types in a frame, in the order the decoder finds them.
// A frame without codes, or an invalid one, gives an empty list.
std::vector<MetadataObject> readBarcodes(const Frame& frame, const std::vector<std::string>& types);
// Every type `readBarcodes` can detect.
const std::vector<std::string>& supportedMetadataObjectTypes();
// Grey-scale frame of an image file (PNG or JPEG); nothing when it cannot be read.
std::optional<Frame> frameFromImageFile(const std::string& path, foundation::Error* error = nullptr);
// A code drawn as a grey-scale frame (for tests and the demo): `format` is one of the three
// handled types; `margin` in pixels of white around it.
std::optional<Frame> renderBarcode(const std::string& type, const std::string& text, int width,
                                   int height, int margin = 20);

// Where frames come from. `nextFrame` blocks until a frame is ready, and returns nothing
// once the source has been closed (or has no more frames). `close` may be called from any
// thread and wakes a blocked `nextFrame`.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  virtual bool open(foundation::Error* error) = 0;
  virtual std::optional<Frame> nextFrame() = 0;
  virtual void close() = 0;
  // The torch, where the device has one.
  virtual bool hasTorch() const { return false; }
  virtual bool setTorch(bool on) { (void)on; return false; }
};

// Frames pushed by a test, delivered in order. Until closed it waits for more.
class ScriptedFrameSource : public FrameSource {
 public:
  void push(Frame frame);
  // Pushes a marker after which the session delivers `objects` as if read from a frame.
  void pushMetadata(std::vector<MetadataObject> objects);
  void setTorchAvailable(bool available) { torch_ = available; }
  bool torchOn() const { return torchOn_; }
  // How many frames or markers the session has taken.
  int taken() const;

  bool open(foundation::Error* error) override;
  std::optional<Frame> nextFrame() override;
  void close() override;
  bool hasTorch() const override { return torch_; }
  bool setTorch(bool on) override;

  // Set by `nextFrame` when the frame it returned stands for scripted metadata.
  std::optional<std::vector<MetadataObject>> takeScriptedMetadata();

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::pair<Frame, std::optional<std::vector<MetadataObject>>>> queue_;
  std::optional<std::vector<MetadataObject>> current_;
  bool closed_ = false;
  int taken_ = 0;
  std::atomic<bool> torch_{false};
  std::atomic<bool> torchOn_{false};
};

// Image files shown to the camera, one after the other, over and over, one every
// `interval` of real time.
class ImageFileFrameSource : public FrameSource {
 public:
  explicit ImageFileFrameSource(std::vector<std::string> paths,
                                std::chrono::milliseconds interval = std::chrono::milliseconds(100));
  bool open(foundation::Error* error) override;
  std::optional<Frame> nextFrame() override;
  void close() override;

 private:
  std::vector<std::string> paths_;
  std::vector<Frame> frames_;
  std::chrono::milliseconds interval_;
  size_t next_ = 0;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool closed_ = false;
};

// A V4L2 camera (YUYV or grey frames through memory-mapped buffers); the torch is the
// device's flash control in torch mode, when it offers one.
class V4L2FrameSource : public FrameSource {
 public:
  explicit V4L2FrameSource(std::string path, int width = 640, int height = 480);
  ~V4L2FrameSource() override;
  bool open(foundation::Error* error) override;
  std::optional<Frame> nextFrame() override;
  void close() override;
  bool hasTorch() const override;
  bool setTorch(bool on) override;

 private:
  struct Buffer {
    void* start = nullptr;
    size_t length = 0;
  };
  void releaseBuffers();
  std::string path_;
  int width_, height_;
  int fd_ = -1;
  int wakeFd_ = -1;
  uint32_t pixelFormat_ = 0;
  int bytesPerLine_ = 0;
  std::vector<Buffer> buffers_;
  std::atomic<bool> closed_{false};
};

enum class TorchMode { Off, On, Auto };

class CaptureDevice {
 public:
  explicit CaptureDevice(std::shared_ptr<FrameSource> source, std::string name = "camera");

  // The default video camera, or nullptr when there is none.
  static std::shared_ptr<CaptureDevice> defaultVideoDevice();
  static void setDefaultVideoDeviceFactory(std::function<std::shared_ptr<CaptureDevice>()> factory);

  const std::string& localizedName() const { return name_; }
  FrameSource& source() { return *source_; }

  bool hasTorch() const { return source_->hasTorch(); }
  bool isTorchAvailable() const { return source_->hasTorch(); }
  bool isTorchModeSupported(TorchMode mode) const { return mode != TorchMode::Auto && source_->hasTorch(); }
  bool isTorchActive() const { return torch_ == TorchMode::On; }
  TorchMode torchMode() const { return torch_; }
  // Changing the torch needs the configuration lock.
  bool lockForConfiguration(foundation::Error* error = nullptr);
  void unlockForConfiguration() { locked_ = false; }
  void setTorchMode(TorchMode mode);

 private:
  std::shared_ptr<FrameSource> source_;
  std::string name_;
  TorchMode torch_ = TorchMode::Off;
  bool locked_ = false;
};

class CaptureMetadataOutput;

// Receives the codes of a frame on the session's worker thread.
class MetadataOutputObjectsDelegate {
 public:
  virtual ~MetadataOutputObjectsDelegate() = default;
  virtual void didOutputMetadataObjects(CaptureMetadataOutput& output,
                                        const std::vector<MetadataObject>& objects) = 0;
};

class CaptureMetadataOutput {
 public:
  const std::vector<std::string>& availableMetadataObjectTypes() const { return supportedMetadataObjectTypes(); }
  const std::vector<std::string>& metadataObjectTypes() const { return types_; }
  void setMetadataObjectTypes(std::vector<std::string> types);
  // `queueName` names the worker thread the calls arrive on.
  void setMetadataObjectsDelegate(std::weak_ptr<MetadataOutputObjectsDelegate> delegate,
                                  std::string queueName);
  const std::string& queueName() const { return queueName_; }

 private:
  friend class CaptureSession;
  std::vector<std::string> types_;
  std::weak_ptr<MetadataOutputObjectsDelegate> delegate_;
  std::string queueName_ = "metadata";
  std::mutex mutex_;
};

class CaptureSession {
 public:
  ~CaptureSession();
  bool canAddInput(const std::shared_ptr<CaptureDevice>& d) const { return d && !input_; }
  void addInput(std::shared_ptr<CaptureDevice> device);
  void addOutput(std::shared_ptr<CaptureMetadataOutput> output);
  const std::shared_ptr<CaptureDevice>& input() const { return input_; }

  // Starts reading frames (does nothing without an input or when already running).
  void startRunning();
  void stopRunning();
  bool isRunning() const { return running_; }

  // Called on the worker thread with every frame (the preview shows them).
  void setFrameObserver(std::function<void(const Frame&)> observer);

 private:
  void work();
  std::shared_ptr<CaptureDevice> input_;
  std::shared_ptr<CaptureMetadataOutput> output_;
  std::function<void(const Frame&)> frameObserver_;
  std::mutex mutex_;
  std::thread worker_;
  std::atomic<bool> running_{false};
};

}  // namespace media
