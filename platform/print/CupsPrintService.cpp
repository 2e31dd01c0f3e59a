#include "platform/print/CupsPrintService.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/MainQueue.h"
#include "platform/print/CupsLibrary.h"

namespace print {
namespace {

using foundation::Error;

// libcups's entry points; every call to the scheduler starts with `connect`, which checks
// that the library opened.
const CupsLibrary& cups() { return *CupsLibrary::get(); }

// How often a sent job's state is asked for.
constexpr std::chrono::milliseconds kJobPollInterval{200};

struct HttpCloser {
  void operator()(http_t* h) const { cups().httpClose(h); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;

struct IppDeleter {
  void operator()(ipp_t* i) const { cups().ippDelete(i); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

// Host and port of `server` ("host:port", "host", "/socket/path"; empty: the system's).
std::pair<std::string, int> hostAndPort(const std::string& server) {
  std::string host = server.empty() ? cups().cupsServer() : server;
  int port = cups().ippPort();
  if (!host.empty() && host[0] != '/')
    if (auto colon = host.rfind(':'); colon != std::string::npos && host.find(']', colon) == std::string::npos) {
      port = std::atoi(host.c_str() + colon + 1);
      host.resize(colon);
    }
  return {host, port};
}

// Gives up a request the scheduler has not answered within `kRequestTimeout`.
int giveUp(http_t*, void*) { return 0; }

Http connect(const std::string& server) {
  if (!CupsLibrary::get()) return nullptr;
  auto [host, port] = hostAndPort(server);
  Http http(cups().httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                         static_cast<int>(kConnectTimeout.count()), nullptr));
  if (http) cups().httpSetTimeout(http.get(), std::chrono::duration<double>(kRequestTimeout).count(), giveUp, nullptr);
  return http;
}

std::string lastError() {
  const char* text = cups().cupsLastErrorString();
  return text && *text ? text : "The print scheduler did not answer";
}

std::vector<ui::PrintDestination> listDestinations(http_t* http) {
  std::string fallback;
  {
    Ipp answer(cups().cupsDoRequest(http, cups().ippNewRequest(IPP_OP_CUPS_GET_DEFAULT), "/"));
    if (answer)
      if (ipp_attribute_t* a = cups().ippFindAttribute(answer.get(), "printer-name", IPP_TAG_NAME))
        fallback = cups().ippGetString(a, 0, nullptr);
  }
  static const char* const wanted[] = {"printer-name", "printer-info"};
  ipp_t* request = cups().ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  cups().ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, wanted);
  Ipp answer(cups().cupsDoRequest(http, request, "/"));
  std::vector<ui::PrintDestination> out;
  if (!answer) return out;
  ui::PrintDestination d;
  auto flush = [&] {
    if (!d.name.empty()) {
      d.isDefault = d.name == fallback;
      out.push_back(d);
    }
    d = {};
  };
  for (ipp_attribute_t* a = cups().ippFirstAttribute(answer.get()); a; a = cups().ippNextAttribute(answer.get())) {
    if (!cups().ippGetName(a)) {  // the separator between two printers' groups
      flush();
      continue;
    }
    const std::string name = cups().ippGetName(a);
    if (name == "printer-name") d.name = cups().ippGetString(a, 0, nullptr);
    if (name == "printer-info") d.info = cups().ippGetString(a, 0, nullptr);
  }
  flush();
  return out;
}

struct JobState {
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string message;
};

std::optional<JobState> jobState(http_t* http, int jobId) {
  static const char* const wanted[] = {"job-state", "job-printer-state-message", "job-state-reasons"};
  ipp_t* request = cups().ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  cups().ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
               ("ipp://localhost/jobs/" + std::to_string(jobId)).c_str());
  cups().ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cups().cupsUser());
  cups().ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
  Ipp answer(cups().cupsDoRequest(http, request, "/"));
  if (!answer || cups().cupsLastError() > IPP_STATUS_OK_CONFLICTING) return std::nullopt;
  JobState s;
  if (ipp_attribute_t* a = cups().ippFindAttribute(answer.get(), "job-state", IPP_TAG_ENUM))
    s.state = static_cast<ipp_jstate_t>(cups().ippGetInteger(a, 0));
  if (ipp_attribute_t* a = cups().ippFindAttribute(answer.get(), "job-printer-state-message", IPP_TAG_TEXT))
    s.message = cups().ippGetString(a, 0, nullptr);
  if (s.message.empty())
    if (ipp_attribute_t* a = cups().ippFindAttribute(answer.get(), "job-state-reasons", IPP_TAG_KEYWORD))
      s.message = cups().ippGetString(a, 0, nullptr);
  return s;
}

// Sends `job` and waits for it to end; nullopt when it completed.
std::optional<Error> run(const std::string& server, const ui::PrintJob& job) {
  Http http = connect(server);
  if (!http) {
    std::string unavailable;
    if (!CupsLibrary::get(&unavailable))
      return Error(ui::kPrintErrorDomain, ui::kPrintingNotAvailableError, "Printing is not available: " + unavailable);
    return Error(ui::kPrintErrorDomain, ui::kPrintingNotAvailableError, "The print scheduler cannot be reached");
  }
  std::string printer = job.printer;
  if (printer.empty())
    for (const auto& d : listDestinations(http.get()))
      if (d.isDefault || printer.empty()) printer = d.name;
  if (printer.empty()) return Error(ui::kPrintErrorDomain, ui::kPrintingNotAvailableError, "There is no printer");

  cups_option_t* options = nullptr;
  int count = 0;
  for (const auto& [name, value] : jobOptions(job))
    count = cups().cupsAddOption(name.c_str(), value.c_str(), count, &options);
  const std::string title = job.info.jobName.empty() ? "Print" : job.info.jobName;
  const std::string resource = "/printers/" + printer;
  char uri[HTTP_MAX_URI];
  cups().httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", cups().ippPort(),
                          "/printers/%s", printer.c_str());
  ipp_t* request = cups().ippNewRequest(IPP_OP_CREATE_JOB);
  cups().ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  cups().ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cups().cupsUser());
  cups().ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
  cups().cupsEncodeOptions2(request, count, options, IPP_TAG_OPERATION);
  cups().cupsEncodeOptions2(request, count, options, IPP_TAG_JOB);
  cups().cupsFreeOptions(count, options);
  int jobId = 0;
  {
    Ipp answer(cups().cupsDoRequest(http.get(), request, resource.c_str()));
    if (answer && cups().cupsLastError() <= IPP_STATUS_OK_CONFLICTING)
      if (ipp_attribute_t* a = cups().ippFindAttribute(answer.get(), "job-id", IPP_TAG_INTEGER))
        jobId = cups().ippGetInteger(a, 0);
  }
  if (jobId <= 0) return Error(kCupsErrorDomain, static_cast<int>(cups().cupsLastError()), lastError());

  for (size_t i = 0; i < job.items.size(); ++i) {
    const ui::PrintItem& item = job.items[i];
    const std::string name = item.name.empty() ? title : item.name;
    const bool last = i + 1 == job.items.size();
    if (cups().cupsStartDocument(http.get(), printer.c_str(), jobId, name.c_str(), item.mimeType.c_str(), last) !=
            HTTP_STATUS_CONTINUE ||
        cups().cupsWriteRequestData(http.get(), reinterpret_cast<const char*>(item.data.data()), item.data.size()) !=
            HTTP_STATUS_CONTINUE ||
        cups().cupsFinishDocument(http.get(), printer.c_str()) != IPP_STATUS_OK) {
      Error e(kCupsErrorDomain, static_cast<int>(cups().cupsLastError()), lastError());
      cups().cupsCancelJob2(http.get(), printer.c_str(), jobId, 0);
      return e;
    }
  }

  const auto deadline = std::chrono::steady_clock::now() + kJobWaitLimit;
  std::string message;
  while (std::chrono::steady_clock::now() < deadline) {
    if (auto s = jobState(http.get(), jobId)) {
      message = s->message;
      switch (s->state) {
        case IPP_JSTATE_COMPLETED: return std::nullopt;
        case IPP_JSTATE_CANCELED:
          return Error(ui::kPrintErrorDomain, ui::kPrintJobFailedError, "The print job was cancelled");
        case IPP_JSTATE_ABORTED:
          return Error(ui::kPrintErrorDomain, ui::kPrintJobFailedError,
                       "The printer could not print the job" + (message.empty() ? "" : ": " + message));
        default: break;
      }
    }
    std::this_thread::sleep_for(kJobPollInterval);
  }
  return Error(ui::kPrintErrorDomain, ui::kPrintJobFailedError,
               "The printer has not printed the job yet" + (message.empty() ? "" : ": " + message));
}

}  // namespace

std::vector<std::pair<std::string, std::string>> jobOptions(const ui::PrintJob& job) {
  std::vector<std::pair<std::string, std::string>> out;
  out.emplace_back("copies", std::to_string(std::max(1, job.copies)));
  if (job.items.size() > 1 && job.copies > 1)
    out.emplace_back("multiple-document-handling", "separate-documents-collated-copies");
  if (!job.pageRanges.empty()) {
    std::string ranges;
    for (char c : job.pageRanges)
      if (c != ' ' && c != '\t') ranges += c;
    out.emplace_back("page-ranges", ranges);
  }
  out.emplace_back("sides", job.info.duplex == ui::PrintDuplex::LongEdge    ? "two-sided-long-edge"
                            : job.info.duplex == ui::PrintDuplex::ShortEdge ? "two-sided-short-edge"
                                                                            : "one-sided");
  if (job.info.outputType == ui::PrintOutputType::Grayscale || job.info.outputType == ui::PrintOutputType::PhotoGrayscale)
    out.emplace_back("print-color-mode", "monochrome");
  return out;
}

// One look-up of the scheduler's queues, shared by its worker thread and the callers
// waiting for it.
struct CupsPrintService::Lookup {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  std::vector<ui::PrintDestination> found;
  foundation::MonoTime endedAt{};
  bool reused = false;  // a finished look-up answers one more call at most
};

CupsPrintService::CupsPrintService(std::string server) : server_(std::move(server)) {}

bool CupsPrintService::isAvailable() { return !destinations().empty(); }

std::vector<ui::PrintDestination> CupsPrintService::destinations() {
  const foundation::Clock& clock = foundation::Clock::current();
  std::shared_ptr<Lookup> lookup = lookup_;
  bool usable = false;
  if (lookup) {
    std::lock_guard<std::mutex> lock(lookup->mutex);
    usable = !lookup->done || (!lookup->reused && clock.now() - lookup->endedAt < kLookupReuse);
    if (lookup->done) lookup->reused = true;
  }
  if (!usable) {
    lookup = std::make_shared<Lookup>();
    lookup_ = lookup;
    // The worker holds the look-up, not the service, and ends within its own time-outs.
    std::thread([lookup, server = server_] {
      std::vector<ui::PrintDestination> found;
      if (Http http = connect(server)) found = listDestinations(http.get());
      {
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->found = std::move(found);
        lookup->done = true;
        lookup->endedAt = foundation::Clock::current().now();
      }
      lookup->changed.notify_all();
    }).detach();
  }
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!clock.waitFor(lock, lookup->changed, kLookupWait, [&] { return lookup->done; })) return {};
  return lookup->found;
}

void CupsPrintService::submit(const ui::PrintJob& job, std::function<void(std::optional<foundation::Error>)> done) {
  std::thread([server = server_, job, done = std::move(done)]() mutable {
    auto error = run(server, job);
    foundation::MainQueue::post([done = std::move(done), error = std::move(error)] {
      if (done) done(error);
    });
  }).detach();
}

}  // namespace print
