// Printing through a real CUPS scheduler started for the test (testing/services).
#include "platform/print/CupsPrintService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "testing/net/HttpTestServers.h"
#include "testing/services/CupsdFixture.h"

namespace print {
namespace {

using namespace std::chrono_literals;

ui::PrintItem document(const std::string& text) {
  const std::string pdf = "%PDF-1.4\n% " + text + "\n%%EOF\n";
  return {ui::ImageBytes(pdf.begin(), pdf.end()), "application/pdf", text + ".pdf"};
}

std::string bytes(const ui::PrintItem& item) { return std::string(item.data.begin(), item.data.end()); }

class CupsPrinting : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(cupsd.start({"Office", "Backroom"})) << cupsd.error(); }
  // Submits `job` and runs the main queue until its outcome arrives.
  std::optional<foundation::Error> print(CupsPrintService& service, const ui::PrintJob& job) {
    bool ended = false;
    std::optional<foundation::Error> outcome;
    service.submit(job, [&](std::optional<foundation::Error> e) {
      ended = true;
      outcome = std::move(e);
    });
    EXPECT_TRUE(foundation::RunLoop::main().runUntil([&] { return ended; }, 60s)) << cupsd.log();
    return outcome;
  }
  services::CupsdFixture cupsd;
};

TEST_F(CupsPrinting, ListsTheQueuesWithTheSchedulersDefault) {
  CupsPrintService service(cupsd.server());
  EXPECT_TRUE(service.isAvailable());
  auto list = service.destinations();
  ASSERT_EQ(list.size(), 2u);
  std::map<std::string, bool> byName;
  for (const auto& d : list) byName[d.name] = d.isDefault;
  EXPECT_EQ(byName, (std::map<std::string, bool>{{"Backroom", false}, {"Office", true}}));

  CupsPrintService nowhere("127.0.0.1:" + std::to_string(services::freeLoopbackPort()));
  EXPECT_FALSE(nowhere.isAvailable());
  EXPECT_TRUE(nowhere.destinations().empty());
}

TEST_F(CupsPrinting, OneJobCarriesEachDocumentInOrderWithItsCopies) {
  CupsPrintService service(cupsd.server());
  const auto a = document("SO10001"), b = document("SO10002");
  struct Case {
    const char* name;
    std::vector<ui::PrintItem> items;
    int copies;
    std::string printer;
    std::string expected;
  };
  const Case cases[] = {
      // Two copies of two orders, as the last screen lays them out: the series twice.
      {"series twice", {a, b, a, b}, 1, "", bytes(a) + bytes(b) + bytes(a) + bytes(b)},
      // A copy count goes with the job; this queue's device repeats each document.
      {"copies of one", {a}, 2, "Backroom", bytes(a) + bytes(a)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui::PrintJob job;
    job.info.jobName = "Print SO";
    job.items = c.items;
    job.copies = c.copies;
    job.printer = c.printer;
    const std::string queue = c.printer.empty() ? "Office" : c.printer;
    const size_t before = cupsd.printed(queue).size();
    auto error = print(service, job);
    ASSERT_FALSE(error) << error->text << "\n" << cupsd.log();
    // The job is reported done once the device has taken all of it.
    EXPECT_EQ(cupsd.waitForPrinted(queue, before + c.expected.size()).substr(before), c.expected);
  }
}

TEST_F(CupsPrinting, AJobTheSchedulerRefusesOrCannotFinishIsAFailure) {
  CupsPrintService service(cupsd.server());
  ui::PrintJob job;
  job.items = {document("SO1")};
  job.printer = "Nowhere";
  auto error = print(service, job);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, kCupsErrorDomain);
  EXPECT_TRUE(cupsd.printed("Office").empty());

  cupsd.stop();
  job.printer.clear();
  error = print(service, job);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, ui::kPrintingNotAvailableError);
  EXPECT_FALSE(service.isAvailable());
}

TEST(CupsLookup, ASchedulerThatNeverAnswersHoldsTheCallerOnlyForTheLookupWait) {
  // Takes the connection, reads the request, never answers.
  net::testing::RawHttpServer silent("");
  CupsPrintService service("127.0.0.1:" + std::to_string(silent.port()));
  foundation::ScopedManualClock clock;
  std::atomic<int> answered{-1};
  std::thread caller([&] { answered = service.isAvailable() ? 1 : 0; });
  ASSERT_TRUE(clock->waitForWaiters(1)) << "the caller should be waiting on the clock, not on the scheduler";
  clock->advance(kLookupWait);
  caller.join();
  EXPECT_EQ(answered, 0);
  // The look-up still under way answers the next call (the sheet's list of printers),
  // rather than another connection.
  std::thread lister([&] { answered = service.destinations().empty() ? 0 : 1; });
  ASSERT_TRUE(clock->waitForWaiters(1));
  clock->advance(kLookupWait);
  lister.join();
  EXPECT_EQ(answered, 0);
  EXPECT_TRUE(silent.waitFor([](auto& s) { return s.requestCountLocked() >= 1; }, std::chrono::milliseconds(20000)));
  EXPECT_EQ(silent.connections(), 1);
}

TEST(CupsJobOptions, CopiesPagesAndSidesGoWithTheJob) {
  ui::PrintJob job;
  job.items = {{}, {}};
  job.copies = 2;
  job.pageRanges = "1-3, 5";
  job.info.duplex = ui::PrintDuplex::LongEdge;
  using Options = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(jobOptions(job), (Options{{"copies", "2"},
                                      {"multiple-document-handling", "separate-documents-collated-copies"},
                                      {"page-ranges", "1-3,5"},
                                      {"sides", "two-sided-long-edge"}}));
  job.items.resize(1);
  job.copies = 1;
  job.pageRanges.clear();
  job.info.duplex = ui::PrintDuplex::None;
  EXPECT_EQ(jobOptions(job), (Options{{"copies", "1"}, {"sides", "one-sided"}}));
}

}  // namespace
}  // namespace print
