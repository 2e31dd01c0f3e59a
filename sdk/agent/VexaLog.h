#pragma once
// The agent's log. `VexaLog` formats a line (printf style) and, while logging is on (user
// defaults "loggingEnabled"), writes "<date>: <line>\n" to the console and appends it to the
// day file "yyyyMMdd" (local date) in the log folder `<data>/Documents/VexaLogs`. At each
// check-in the agent uploads the day files to the management server as multipart forms and
// removes what the server accepted (status 200); anything else keeps the file for the next
// upload. Lines appended while an upload runs are kept.
//
// Callers never pass card numbers, tracks, PINs or keys. A folder or file that cannot be
// written is reported on the console only (the log never logs its own failures), and the
// line is dropped.
//
// Threads: any. Appends are serialised; uploads complete on the main queue.

#include <filesystem>
#include <string>

#include "platform/foundation/Clock.h"

#define VEXA_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

namespace kestra {

void VexaLog(const char* format, ...) VEXA_PRINTF_FORMAT(1, 2);
// Debug lines are dropped.
inline void VexaLogDebug(const char*, ...) {}

class VexaInternalLogger {
 public:
  // The shared logger. Making it switches logging off (and stores that); the host switches
  // it on through the agent.
  static VexaInternalLogger& shared();
  void setIsEnabled(bool enabled);
  bool isEnabled() const;
  static std::filesystem::path docFolderPath();
  // Removes day files 4 or more days old.
  static void clearOldLogs();
  // Uploads every file of the log folder, each on its own.
  void uploadLog();
  // Uploads one file of the log folder.
  void uploadFile(const std::string& name);
  static void sendLogToDev() {}

  // The multipart body of one upload (exposed for the fuzz target and tests).
  static std::string multipartBody(const std::string& boundary, const std::string& serial, const std::string& bundle,
                                   const std::string& filePath, const std::string& fileText);

 private:
  VexaInternalLogger();
};

// The door through which the device API writes to the agent's log.
class VexaLogger {
 public:
  static VexaLogger& shared();
  void logMessage(const std::string& text);
};

class VexaExceptionHandler {
 public:
  // While logging is on, once per process: exceptions that escape the agent's queues, and
  // the one that ends the process, are written to the log first.
  static void handleUncaughtException();
};

}  // namespace kestra
