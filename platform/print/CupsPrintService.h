#pragma once
// Printing to the system's printers through the CUPS scheduler (libcups), behind the print
// sheet's `PrintService`.
//
// - The printers are the scheduler's queues; the default one is the scheduler's default.
//   Printing is available while the scheduler answers and lists at least one queue. The
//   scheduler is asked on a thread of its own: the caller waits at most `kLookupWait` (on
//   the `Clock`) and hears "no printers" when the answer has not come by then, so a
//   scheduler that takes the connection and never answers cannot hold the screens. A
//   look-up still under way answers the calls that come meanwhile; one that ended less
//   than `kLookupReuse` ago answers the next call too, once (a sheet asks whether printing
//   is available, then for the printers).
// - A job is one print job on the chosen queue holding each item as a document of its own,
//   in order (several PDF files are never joined into one byte stream), with the copies,
//   the page ranges, the sides and collated copies of the documents as job options.
// - `done` runs on the main queue once the job has ended: nothing when the scheduler
//   reports it completed, an error when it was aborted or cancelled, when the scheduler
//   refused it, or when it has not ended within `kJobWaitLimit` (the job then stays queued).
//
// The scheduler is `server` ("host:port", or a socket path) when given, else the one the
// system names (CUPS_SERVER, client.conf, the local scheduler). Jobs are sent and watched
// on a thread of their own; the service may be called from the main thread only.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/PrintInteractionController.h"

namespace print {

inline constexpr const char* kCupsErrorDomain = "CUPSErrorDomain";
// How long a sent job may take to end before the sheet is told it failed.
inline constexpr std::chrono::minutes kJobWaitLimit{2};
// How long connecting to the scheduler may take.
inline constexpr std::chrono::milliseconds kConnectTimeout{3000};
// How long the scheduler may take to answer one request once connected.
inline constexpr std::chrono::milliseconds kRequestTimeout{5000};
// How long `isAvailable` and `destinations` wait for the scheduler's list.
inline constexpr std::chrono::milliseconds kLookupWait{2000};
// How long a finished list answers further calls.
inline constexpr std::chrono::milliseconds kLookupReuse{1000};

class CupsPrintService : public ui::PrintService {
 public:
  explicit CupsPrintService(std::string server = {});

  bool isAvailable() override;
  std::vector<ui::PrintDestination> destinations() override;
  void submit(const ui::PrintJob& job, std::function<void(std::optional<foundation::Error>)> done) override;

  const std::string& server() const { return server_; }

 private:
  struct Lookup;
  std::string server_;
  std::shared_ptr<Lookup> lookup_;  // the latest look-up of the scheduler's queues
};

// The IPP job options of `job` as "name=value" pairs (what goes with the job besides the
// documents).
std::vector<std::pair<std::string, std::string>> jobOptions(const ui::PrintJob& job);

}  // namespace print
