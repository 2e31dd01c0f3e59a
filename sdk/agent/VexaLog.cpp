#include "sdk/agent/VexaLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <fstream>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/DateFormat.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Uuid.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaIdentifier.h"
#include "sdk/agent/VexaNetworkAction.h"

namespace kestra {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLoggingEnabledKey = "loggingEnabled";
constexpr foundation::Duration kLogUploadTimeout = std::chrono::seconds(10);

std::mutex& fileMutex() {
  static std::mutex m;
  return m;
}

// Set while this thread writes the log, so that a failure inside never logs again.
thread_local bool tInsideLog = false;

void console(const std::string& text) { std::fprintf(stderr, "%s", text.c_str()); }

void append(const std::string& entry) {
  const fs::path folder = VexaInternalLogger::docFolderPath();
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    console("<OKTVexa> Logs folder creation error " + ec.message() + "\n");
    return;
  }
  const fs::path file = folder / foundation::formatDate(foundation::Clock::current().wallNow(), "yyyyMMdd");
  std::lock_guard lock(fileMutex());
  // A day log holds the management payload (phone number, device ids): readable by this
  // user only, like the user defaults and the keychain, also when an older file was wider.
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  bool ok = fd >= 0 && ::fchmod(fd, 0600) == 0;
  for (size_t at = 0; ok && at < entry.size();) {
    const ssize_t n = ::write(fd, entry.data() + at, entry.size() - at);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) at += size_t(n);
  }
  if (fd >= 0) ::close(fd);
  if (!ok) console("<OKTVexa> File error: cannot write " + file.string() + "\n");
}

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

// After an accepted upload: drop the uploaded text from the file, keeping what was
// appended meanwhile; remove the file when nothing else is in it.
void dropUploaded(const fs::path& path, const std::string& uploaded) {
  std::lock_guard lock(fileMutex());
  auto now = foundation::readFile(path);
  if (!now) return;
  std::error_code ec;
  if (*now == uploaded) {
    fs::remove(path, ec);
  } else if (now->compare(0, uploaded.size(), uploaded) == 0) {
    foundation::writeFileAtomically(path, now->substr(uploaded.size()), 0600);
  }
}

std::terminate_handler gPreviousTerminate = nullptr;

[[noreturn]] void VexaUncaughtExceptionHandler() {
  try {
    if (auto e = std::current_exception()) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& ex) {
        VexaLog("<OKTVexa> Unexpected exception: %s\n%s\n%s", ex.what(), "", "");
      } catch (...) {
        VexaLog("<OKTVexa> Unexpected exception: %s\n%s\n%s", "unknown", "", "");
      }
    }
  } catch (...) {
    VexaLog("<OKTVexa> Failed to log uncaught exception: %s\n%s", "unknown", "");
  }
  if (gPreviousTerminate) gPreviousTerminate();
  std::abort();
}

}  // namespace

void VexaLog(const char* format, ...) {
  if (tInsideLog) return;
  if (!VexaInternalLogger::shared().isEnabled()) return;
  tInsideLog = true;
  va_list args;
  va_start(args, format);
  const std::string message = vformat(format, args);
  va_end(args);
  const std::string entry =
      foundation::formatDate(foundation::Clock::current().wallNow(), "yyyy-MM-dd HH:mm:ss '+0000'", true) + ": " +
      message + "\n";
  console(entry);
  append(entry);
  tInsideLog = false;
}

VexaInternalLogger::VexaInternalLogger() { setIsEnabled(false); }

VexaInternalLogger& VexaInternalLogger::shared() {
  static VexaInternalLogger* logger = new VexaInternalLogger();
  return *logger;
}

void VexaInternalLogger::setIsEnabled(bool enabled) {
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setBool(kLoggingEnabledKey, enabled);
  defaults.synchronize();
  if (enabled) VexaExceptionHandler::handleUncaughtException();
}

bool VexaInternalLogger::isEnabled() const { return foundation::UserDefaults::standard().boolForKey(kLoggingEnabledKey); }

fs::path VexaInternalLogger::docFolderPath() { return foundation::Paths::dataDir() / "Documents" / "VexaLogs"; }

void VexaInternalLogger::clearOldLogs() {
  std::error_code ec;
  const auto now = foundation::Clock::current().wallNow();
  for (fs::recursive_directory_iterator it(docFolderPath(), ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    auto date = foundation::toWallTime(foundation::parseDate(it->path().filename().string(), "yyyyMMdd"));
    if (!date) continue;
    if (VexaHelper::daysBetweenOlderDate(*date, now) >= 4) {
      std::error_code rm;
      fs::remove(it->path(), rm);
      if (rm) VexaLog("<OKTVexa> Error removing log file: %s", rm.message().c_str());
    }
  }
}

void VexaInternalLogger::uploadLog() {
  VexaLog("Upload Vexalogs");
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(docFolderPath(), ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file()) names.push_back(it->path().filename().string());
  if (ec && ec != std::errc::no_such_file_or_directory) {
    VexaLog("<OKTVexa> Unable to read log folder: %s", ec.message().c_str());
    return;
  }
  if (names.empty()) {
    VexaLog("No logs found!");
    return;
  }
  for (const auto& name : names) uploadFile(name);
}

std::string VexaInternalLogger::multipartBody(const std::string& boundary, const std::string& serial,
                                              const std::string& bundle, const std::string& filePath,
                                              const std::string& fileText) {
  std::string body;
  for (const auto& [name, value] : {std::pair<std::string, std::string>{"serial", serial},
                                    {"bundle", bundle},
                                    {"manufacturer", "Apple"}}) {
    body += "--" + boundary + "\r\n";
    body += "Content-Disposition:form-data; name=\"" + name + "\"\r\n\r\n";
    body += value + "\r\n";
  }
  body += "--" + boundary + "\r\n";
  body += "Content-Disposition:form-data; name=\"file\"; filename=\"" + filePath + "\"\r\n";
  body += "Content-Type: \"text/plain\"\r\n\r\n";
  body += fileText + "\r\n";
  body += "--" + boundary + "--\r\n";
  return body;
}

void VexaInternalLogger::uploadFile(const std::string& name) {
  if (!isEnabled()) return;
  const fs::path path = docFolderPath() / name;
  const std::string boundary = "--Vexa-Boundary-" + foundation::uuidString();
  std::optional<std::string> text;
  {
    std::lock_guard lock(fileMutex());
    text = foundation::readFile(path);
  }
  if (!text || !VexaHelper::isValidUtf8(*text)) {
    VexaLog("<OKTVexa> Failed to prepare log %s to upload%s", name.c_str(), text ? " (not UTF-8 text)" : " (unreadable)");
    return;
  }
  std::string body = multipartBody(boundary, VexaIdentifier::getUUID(), VexaAppSettings::bundleIdentifier(),
                                   path.string(), *text);
  VexaNetworkAction::postMultipart(kVexaLogPath, std::move(body), "multipart/form-data; boundary=" + boundary,
                                   kLogUploadTimeout, [path, name, uploaded = *text](const VexaPostResult& r) {
                                     if (r.statusCode() == 200 && !r.error) {
                                       dropUploaded(path, uploaded);
                                       VexaLog("<OKTVexa> Log %s uploaded", name.c_str());
                                     } else {
                                       VexaLog("<OKTVexa> Unable to upload log: %s", name.c_str());
                                     }
                                   });
}

VexaLogger& VexaLogger::shared() {
  // Lives for the whole process: the agent's threads may still log while the process exits.
  static VexaLogger* const logger = new VexaLogger;
  return *logger;
}

void VexaLogger::logMessage(const std::string& text) { VexaLog("%s", text.c_str()); }

void VexaExceptionHandler::handleUncaughtException() {
  if (!VexaInternalLogger::shared().isEnabled()) return;
  static std::once_flag once;
  std::call_once(once, [] {
    if (!gPreviousTerminate) gPreviousTerminate = std::get_terminate();
    std::set_terminate(&VexaUncaughtExceptionHandler);
    foundation::OperationQueue::setExceptionHandler([](const std::string& what) {
      VexaLog("<OKTVexa> Unexpected exception: %s\n%s\n%s", what.c_str(), "", "");
    });
  });
}

}  // namespace kestra
