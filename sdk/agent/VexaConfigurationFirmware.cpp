// The firmware job of the configuration runner: fetch, flash behind the blocking view,
// record, with the agent paused throughout.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/HttpClient.h"
#include "sdk/agent/OKTVexa.h"
#include "sdk/agent/VexaConfiguration.h"
#include "sdk/agent/VexaLog.h"
#include "sdk/agent/VexaNetworkAction.h"
#include "sdk/device/OKTKXDevices.h"

namespace kestra {

// The runner as seen by work that may outlive it (answers of the server, the facade's
// progress): reached only under the mutex, and gone once the runner is.
struct VexaConfiguration::Life {
  std::mutex mutex;
  VexaConfiguration* runner = nullptr;
};

namespace {

template <typename L, typename F>
void withRunner(const std::weak_ptr<L>& weak, F&& fn) {
  if (auto life = weak.lock()) {
    std::lock_guard lock(life->mutex);
    if (life->runner) fn(*life->runner);
  }
}

foundation::Error vexaError(int code, const std::string& text) { return {kOKTVexaErrorDomain, code, text}; }

std::string errorText(const std::optional<foundation::Error>& error) { return error ? error->text : std::string(); }

std::string format(const char* pattern, const std::string& a, const std::string& b = {}) {
  std::string out = pattern;
  for (const std::string* arg : {&a, &b}) {
    const auto at = out.find("%@");
    if (at == std::string::npos) break;
    out.replace(at, 2, *arg);
  }
  return out;
}

bool isAddress(const std::string& value) {
  for (const char* scheme : {"http://", "https://", "ftp://"})
    if (value.find(scheme) != std::string::npos) return true;
  return false;
}

bool startsWithNoCase(const std::string& text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

std::string lowerText(std::string text) {
  for (auto& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// What an image must be before it is flashed: at least its declared length (the answer's
// Content-Length) and, when the job's address ends in "#sha256=<hex>", that digest.
struct ImageChecks {
  std::optional<size_t> length;
  std::optional<std::string> sha256;  // lower-case hex
};

std::optional<foundation::Error> checkImage(const std::string& image, const ImageChecks& checks) {
  if (checks.length && *checks.length != image.size())
    return vexaError(kVexaErrorFirmware, "Firmware data incomplete: " + std::to_string(image.size()) + " of " +
                                             std::to_string(*checks.length) + " bytes.");
  if (checks.sha256) {
    const auto digest = crypto::sha256(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    if (lowerText(foundation::toHex(digest.data(), digest.size())) != *checks.sha256)
      return vexaError(kVexaErrorFirmware, "Firmware checksum does not match!");
  }
  return std::nullopt;
}

// The declared length of an answer's body, when the server gave one.
std::optional<size_t> declaredLength(const net::HttpResponse& response) {
  const auto text = response.header("Content-Length");
  if (!text || text->empty() || text->find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return size_t(std::strtoull(text->c_str(), nullptr, 10));
}

}  // namespace

// Passes the facade's firmware progress to the runner.
class VexaConfiguration::ProgressRelay final : public KXDeviceDelegate {
 public:
  explicit ProgressRelay(std::weak_ptr<Life> life) : life_(std::move(life)) {
    implements({kxsel::firmwareUpdateProgress});
  }
  void firmwareUpdateProgress(int phase, int percent) override {
    withRunner(life_, [&](VexaConfiguration& runner) { runner.firmwareUpdateProgress(phase, percent); });
  }

 private:
  std::weak_ptr<Life> life_;
};

void VexaConfiguration::startFirmwareSupport() {
  life_ = std::make_shared<Life>();
  life_->runner = this;
  relay_ = std::make_shared<ProgressRelay>(life_);
}

void VexaConfiguration::stopFirmwareSupport() {
  {
    std::lock_guard lock(life_->mutex);
    life_->runner = nullptr;
  }
  firmwareQueue_.waitUntilAllOperationsAreFinished();
  // A job whose answer will now be dropped must not leave the agent paused.
  if (firmwareJobs_.exchange(0) > 0)
    if (auto agent = agent_.lock()) agent->resume();
}

void VexaConfiguration::setProgressView(std::shared_ptr<VexaFirmwareProgressView> view) {
  std::lock_guard lock(mutex_);
  view_ = std::move(view);
}

std::shared_ptr<VexaFirmwareProgressView> VexaConfiguration::progressView() const {
  std::lock_guard lock(mutex_);
  return view_;
}

std::optional<std::string> VexaConfiguration::firmwareProgressText(int phase, int percent) {
  static const char* const texts[] = {"Initializing firmware update\n%i%%", "Erasing flash memory\n%i%%",
                                      "Writing data\n%i%%", "Update completed\n%i%%"};
  if (phase < 0 || phase > 3) return std::nullopt;
  char line[64];
  std::snprintf(line, sizeof line, texts[phase], percent);
  return std::string(line);
}

void VexaConfiguration::firmwareUpdateProgress(int phase, int percent) {
  auto view = progressView();
  if (!view) return;
  const auto text = firmwareProgressText(phase, percent);
  foundation::RunLoop::main().perform([view, text, percent] { view->setProgress(text, float(percent) / 100.0f); });
}

void VexaConfiguration::showBlockView() {
  if (auto view = progressView()) {
    foundation::RunLoop::main().perform([view] {
      view->showBlockView("Updating Firmware");
      view->setProgress(std::string(), 0.0f);
    });
  }
}

void VexaConfiguration::removeBlockView() {
  if (auto view = progressView()) foundation::RunLoop::main().perform([view] { view->removeBlockView(); });
}

void VexaConfiguration::flashFirmware(const std::string& image, FirmwareCompletion completion) {
  if (image.size() <= 1000) {
    completion(false, vexaError(kVexaErrorFirmware, "Invalid firmware data!"));
    return;
  }
  OKTKXDevices* facade = facade_();
  if (facade) facade->addDelegate(relay_);
  showBlockView();
  std::optional<foundation::Error> failure;
  if (facade && facade->connstate() == 2) {
    foundation::Error error;
    if (!facade->updateFirmwareData(Bytes(image.begin(), image.end()), &error))
      failure = vexaError(kVexaErrorFirmware, error.text);
  } else {
    failure = vexaError(kVexaErrorDeviceDisconnected, "Device disconnected");
  }
  if (facade) facade->removeDelegate(relay_);
  completion(!failure, failure);
}

void VexaConfiguration::fetchAndUpdateFirmwareDataFromURL(const std::string& address, FirmwareCompletion completion) {
  // Images come over https, or from an ftp:// address; never over plain http.
  const bool ftp = startsWithNoCase(address, "ftp://");
  if (!ftp && !VexaNetworkAction::isSecureAddress(address)) {
    VexaLog("<OKTVexa> Download firmware error: %s", kVexaInsecureServerRefused);
    if (auto agent = agent_.lock()) agent->status(kVexaInsecureServerRefused);
    completion(false, vexaError(kVexaErrorFirmware, kVexaInsecureServerRefused));
    return;
  }
  ImageChecks checks;
  std::string url = address;
  if (const size_t hash = url.find('#'); hash != std::string::npos) {
    const std::string fragment = url.substr(hash + 1);
    url.erase(hash);
    if (startsWithNoCase(fragment, "sha256=")) {
      const std::string hex = lowerText(fragment.substr(7));
      if (hex.size() != 64 || hex.find_first_not_of("0123456789abcdef") != std::string::npos) {
        completion(false, vexaError(kVexaErrorFirmware, "Invalid firmware checksum!"));
        return;
      }
      checks.sha256 = hex;
    }
  }
  net::HttpRequest request;
  request.url = url;
  request.caFile = VexaNetworkAction::caFile();
  request.protocols = ftp ? "ftp" : "https";
  std::weak_ptr<Life> weak = life_;
  net::HttpClient::shared().send(
      std::move(request), [weak, completion, checks](std::optional<net::HttpResponse> response, foundation::Error error) {
        withRunner(weak, [&](VexaConfiguration& runner) {
          if (!response || error.isError()) {
            if (!error.isError()) error = vexaError(kVexaErrorFirmware, "No data");
            VexaLog("<OKTVexa> Download firmware error: %s", error.text.c_str());
            completion(false, error);
          } else if (response->status != 200) {
            completion(false, vexaError(kVexaErrorFirmware, "Failed to fetch firmware data. Status code: " +
                                                                std::to_string(response->status)));
          } else {
            ImageChecks all = checks;
            all.length = declaredLength(*response);
            if (auto bad = checkImage(response->body, all)) {
              VexaLog("<OKTVexa> Download firmware error: %s", bad->text.c_str());
              completion(false, bad);
              return;
            }
            runner.firmwareQueue_.addOperation([&runner, body = std::move(response->body), completion] {
              runner.flashFirmware(body, completion);
            });
          }
        });
      });
}

void VexaConfiguration::finishFirmwareJob(const std::string& id, const Job& job, size_t total, bool ok,
                                          const std::string& message) {
  // The agent goes on before the result is recorded, so that the check-in that ends the
  // batch is not refused as made while paused.
  --firmwareJobs_;
  if (auto agent = agent_.lock()) agent->resume();
  didFinishJob(id, job.key, message, ok, total, "0");
  removeBlockView();
}

void VexaConfiguration::runFirmwareJob(const std::string& id, const Job& job, size_t total) {
  ++firmwareJobs_;
  if (auto agent = agent_.lock()) agent->pause();
  if (isAddress(job.value)) {
    fetchAndUpdateFirmwareDataFromURL(job.value, [this, id, job, total](bool ok, const auto& error) {
      finishFirmwareJob(id, job, total, ok,
                        ok ? "Firmware successfully applied." : format("Failed to apply firmware. Error: %@", errorText(error)));
    });
    return;
  }
  OKTKXDevices* facade = facade_();
  const auto text = [](const std::optional<std::string>& t) { return t ? nlohmann::json(*t) : nlohmann::json(); };
  const auto companyCode = foundation::UserDefaults::standard().stringForKey("companyCode");
  const nlohmann::json body = {
      {"serial", facade ? text(facade->serialNumber()) : nlohmann::json()},
      {"deviceName", facade ? text(facade->deviceName()) : nlohmann::json()},
      {"model", facade ? text(facade->deviceModel()) : nlohmann::json()},
      {"field", job.key},
      {"version", job.value},
      {"companyCode", companyCode && !companyCode->empty() ? nlohmann::json(*companyCode) : nlohmann::json()}};
  const std::string version = job.value;
  std::weak_ptr<Life> weak = life_;
  VexaNetworkAction::postJSON(body, VexaNetworkAction::origin() + kVexaFirmwarePath,
                              [weak, id, job, total, version](const VexaPostResult& r) {
    withRunner(weak, [&](VexaConfiguration& runner) {
      if (!r.response) {
        runner.finishFirmwareJob(id, job, total, false,
                                 format("Failed to fetch firmware version %@. Error: %@", version, errorText(r.error)));
      } else if (r.statusCode() != 200) {
        runner.finishFirmwareJob(id, job, total, false,
                                 "Failed to fetch firmware data. Status code: " + std::to_string(r.statusCode()));
      } else if (r.response->body.empty()) {
        runner.finishFirmwareJob(id, job, total, false, "No firmware found!");
      } else if (auto bad = checkImage(r.response->body, ImageChecks{declaredLength(*r.response), std::nullopt})) {
        runner.finishFirmwareJob(id, job, total, false,
                                 format("Failed to apply firmware version %@. Error: %@", version, bad->text));
      } else {
        runner.firmwareQueue_.addOperation([&runner, id, job, total, version, image = r.response->body] {
          runner.flashFirmware(image, [&](bool ok, const std::optional<foundation::Error>& error) {
            runner.finishFirmwareJob(
                id, job, total, ok,
                ok ? format("Firmware version %@ successfully applied.", version)
                   : format("Failed to apply firmware version %@. Error: %@", version, errorText(error)));
          });
        });
      }
    });
  });
}

}  // namespace kestra
