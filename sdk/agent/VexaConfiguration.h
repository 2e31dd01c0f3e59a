#pragma once
// VexaConfiguration: the runner of the configuration jobs that the management server sends
// after a configuration check-in. A job {"key": "<plug-in>_<command>", "value": ...} goes to
// the handler of its plug-in word (the accessories, the printer, the pinpad, the phone app,
// the managed configuration, or the host's extension plug-ins); handlers run one at a time on
// the runner's queue. Every job ends with exactly one result; when the list is done the
// report {batch: {"total", "serial": "0", "configs": [{"key", "value", "success": "true" or
// "false"}]}} goes to the delegate and the agent checks in at once. A list that arrives while
// one runs waits; a newer one replaces a waiting one.
//
// Device settings go through the facade, which is switched to the device's type for the job
// and then back to the type it had before (so the host's own choice of device survives).
//
// A firmware job (value: an image address, or a version asked of the server's firmware
// endpoint) pauses the agent, fetches the image, flashes it into the attached device through
// the facade behind the host's blocking view, and resumes the agent, on every road. The queue
// does not wait for it: the image is fetched and flashed on threads of their own.
//
// Threads: public calls from any thread; the job list and the report are kept under one lock.
// The view is called on the main queue.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/OperationQueue.h"

namespace kestra {

class OKTKXDevices;
class OKTVexa;

class VexaConfigDelegate {
 public:
  virtual ~VexaConfigDelegate() = default;
  virtual void didFinishAllConfigJobsWithReport(const nlohmann::json& report) = 0;
};

// The full-screen view the host shows while firmware is flashed; called on the main queue.
class VexaFirmwareProgressView {
 public:
  virtual ~VexaFirmwareProgressView() = default;
  // Covers the screen with `warning` over an empty progress bar.
  virtual void showBlockView(const std::string& warning) = 0;
  // `text` nothing: the label keeps its text.
  virtual void setProgress(const std::optional<std::string>& text, float fraction) = 0;
  virtual void removeBlockView() = 0;
};

inline constexpr int kVexaErrorDeviceDisconnected = 2;
inline constexpr int kVexaErrorFirmware = 3;

class VexaConfiguration {
 public:
  using FirmwareCompletion = std::function<void(bool success, const std::optional<foundation::Error>& error)>;

  // The runner of the process, over the process's agent and facade.
  static VexaConfiguration& sharedConfiguration();
  // A runner of its own (tests, embedding); `facade` answers the facade to use.
  VexaConfiguration(std::weak_ptr<OKTVexa> agent, std::function<OKTKXDevices*()> facade);
  ~VexaConfiguration();

  void setDelegate(std::weak_ptr<VexaConfigDelegate> delegate);
  void addConfigJobs(const nlohmann::json& jobs);
  void pauseConfig() { queue_.setSuspended(true); }
  void resumeConfig() { queue_.setSuspended(false); }
  // How many jobs of the running batch have no result yet.
  size_t pendingJobs() const;

  // ---- Firmware ----
  void setProgressView(std::shared_ptr<VexaFirmwareProgressView> view);
  // Downloads the image at `url` (GET) and flashes it; `completion` runs on a worker thread.
  void fetchAndUpdateFirmwareDataFromURL(const std::string& url, FirmwareCompletion completion);
  // Flashes `image` into the connected device behind the blocking view; blocks the calling
  // thread (never the main one) until the device has answered.
  void flashFirmware(const std::string& image, FirmwareCompletion completion);
  void firmwareUpdateProgress(int phase, int percent);
  void showBlockView();
  void removeBlockView();
  // The progress label's text of a phase, or nothing for a phase without one.
  static std::optional<std::string> firmwareProgressText(int phase, int percent);

  void didFinishJob(const std::string& jobID, const std::string& command, const std::string& value, bool result,
                    size_t total, const std::string& serial);

 private:
  struct Job {
    std::string key, value;
  };
  void prepareJobQueue();
  void processNewConfigurations(std::vector<Job> jobs);
  void sendJobReport();
  void handleDevice(const std::string& id, const std::string& command, const Job& job, size_t total);
  void handlePinpad(const std::string& id, const std::string& command, const Job& job, size_t total);
  void handleMobileApp(const std::string& id, const std::string& command, const Job& job, size_t total);
  void handleMobileMDM(const std::string& id, const std::string& command, const Job& job, size_t total);
  void handleExtension(const std::string& id, const Job& job, size_t total);
  void runFirmwareJob(const std::string& id, const Job& job, size_t total);
  void finishFirmwareJob(const std::string& id, const Job& job, size_t total, bool ok, const std::string& message);
  std::shared_ptr<VexaFirmwareProgressView> progressView() const;
  void startFirmwareSupport();
  void stopFirmwareSupport();
  struct Life;
  class ProgressRelay;

  std::weak_ptr<OKTVexa> agent_;
  std::function<OKTKXDevices*()> facade_;
  mutable std::mutex mutex_;  // the lists, the report and the delegate
  std::weak_ptr<VexaConfigDelegate> delegate_;
  std::vector<Job> configJobs_;
  std::optional<std::vector<Job>> incomingJobs_;
  std::shared_ptr<nlohmann::json> completeJobs_;
  bool reported_ = true;  // the running batch's report has gone (or no batch runs)
  std::shared_ptr<VexaFirmwareProgressView> view_;
  std::shared_ptr<Life> life_;
  std::atomic<int> firmwareJobs_{0};  // started and not yet recorded
  std::shared_ptr<ProgressRelay> relay_;
  foundation::OperationQueue queue_{1};
  foundation::OperationQueue firmwareQueue_{1};
};

}  // namespace kestra
