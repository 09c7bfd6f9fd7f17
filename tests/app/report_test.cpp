// The report window's geometry, and the job that makes a report off the window thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/report_job.h"
#include "app/report_window.h"
#include "tests/doubles/boost_doubles.h"
#include "tests/doubles/fake_process_list.h"
#include "tests/doubles/fake_service_manager.h"
#include "tests/doubles/pump_until.h"

namespace kestrava {
namespace {

using testing::PumpUntil;

bool Inside(const Rect& inner, Size outer) {
  return inner.left >= 0 && inner.top >= 0 && inner.width > 0 && inner.height > 0 &&
         inner.Right() <= outer.width && inner.Bottom() <= outer.height;
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.Right() && b.left < a.Right() && a.top < b.Bottom() && b.top < a.Bottom();
}

TEST(ReportLayout, OpensInsideASmallScreenWithEveryControlApartDownToTheMinimum) {
  const Size frame{16, 38};
  const Size smallScreen{1024, 768};
  for (const int dpi : {96, 120, 144}) {
    const Size opening = ReportOpeningClientSize(dpi, frame, smallScreen);
    EXPECT_LE(opening.width + frame.width, smallScreen.width) << dpi;
    EXPECT_LE(opening.height + frame.height, smallScreen.height) << dpi;
    const Rect minimum =
        ScaleRect({0, 0, kReportMinimumClientSize.width, kReportMinimumClientSize.height}, dpi);
    for (const Size client : {opening, Size{minimum.width, minimum.height}}) {
      const ReportRects arranged = ArrangeReport(client, dpi);
      for (std::size_t i = 0; i < kReportControlCount; ++i) {
        EXPECT_TRUE(Inside(arranged[i], client)) << dpi << " dpi, control " << i;
        for (std::size_t j = 0; j < i; ++j) {
          EXPECT_FALSE(Overlap(arranged[i], arranged[j])) << dpi << " dpi, " << i << " and " << j;
        }
      }
      // The buttons keep their size; the list takes what the window gains.
      EXPECT_EQ(arranged[static_cast<std::size_t>(ReportControl::btnClose)].Right(),
                client.width - ScaleLength(8, dpi));
    }
  }
  // A screen too small even for the minimum: the window keeps the minimum, the system clamps it.
  const Size tiny = ReportOpeningClientSize(96, frame, {300, 150});
  EXPECT_EQ(tiny.width, kReportMinimumClientSize.width);
  EXPECT_EQ(tiny.height, kReportMinimumClientSize.height);
}

// The columns never reach past the list's right edge; the key columns stay whole while the others
// can still show a little, and the widest texts give up their width first.
TEST(ReportLayout, ColumnsFitTheListKeyColumnsWholeTheWidestCutFirst) {
  struct Case {
    const char* what;
    std::vector<int> needed;
    std::vector<std::size_t> keys;
    int available;
    std::vector<int> widths;
  } cases[] = {
      {"all fit: as wide as they need", {60, 100, 200}, {1}, 400, {60, 100, 200}},
      {"the widest other is cut to what is left",
       {60, 100, 300, 80},
       {1, 3},
       400,
       {60, 100, 160, 80}},
      {"two wide others share what is left alike",
       {60, 100, 300, 300, 80},
       {1, 4},
       400,
       {60, 100, 80, 80, 80}},
      {"no key columns: the narrow whole, the wide alike", {50, 400, 300}, {}, 400, {50, 175, 175}},
      // Every other column keeps the floor of 40 (or less, when it needs less); the two keys
      // share the remaining 400 - 30 - 40 = 330.
      {"too narrow even for the keys: the keys are cut alike",
       {30, 300, 200, 250},
       {1, 3},
       400,
       {30, 165, 40, 165}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<int> widths = FitColumns(c.needed, c.keys, c.available, 40);
    EXPECT_EQ(widths, c.widths);
    int total = 0;
    for (const int width : widths) total += width;
    EXPECT_LE(total, c.available);
  }
}

// "Last run details..." reads memory when it is opened, with the debug privilege on as around the
// trim, and puts it beside the readings right after the trim; before any run, it says so.
TEST(ReportWindow, LastRunDetailsReadTheMemoryNow) {
  testing::FakeClock clock;
  testing::FakeMemoryStatus memory;
  testing::FakeProcessList processes;
  processes.Add(4, 256, 256, 1 << 20);
  processes.Add(8, 0, 256, 3 << 20);
  processes.refusing = {8};
  memory.available = std::uint64_t{2} << 30;
  testing::RecordingPrivileges privileges;
  privileges.onEnable = [&processes](const std::string& name) {
    if (name == "SeDebugPrivilege") processes.refusing.clear();
  };
  BoostPorts ports;
  ports.memory = &memory;
  ports.processes = &processes;
  ports.privileges = &privileges;
  ports.clock = &clock;

  EXPECT_EQ(ClipboardText(LastRunReport(nullptr, ports)), ClipboardText(NoRunTable()));

  BoostReceipt receipt;
  receipt.trimmed = true;
  receipt.trimEndedAt = clock.now - 61600;
  const std::string text = ClipboardText(LastRunReport(&receipt, ports));
  EXPECT_NE(text.find("Memory\tAvailable physical memory now (62 s after the trim)\t2048.0 MB\t\r\n"
                      "Memory\tSum of working sets now\t4.0 MB\t2 processes\r\n"),
            std::string::npos)
      << text;
  EXPECT_TRUE(processes.trimmed.empty());

  receipt.trimmed = false;
  EXPECT_EQ(LastRunReport(&receipt, ports).rows.size(), ReceiptTable(receipt).rows.size());
}

TEST(ReportJob, ProgressAndTheTableReachTheWindowThreadAndAnErrorBecomesTheReport) {
  const std::thread::id window = std::this_thread::get_id();
  std::vector<std::string> shown;
  std::vector<ReportTable> done;
  bool allInWindowThread = true;
  std::atomic<bool> shownOne{false};
  {
    ReportJob job(
        [&](const ReportJob::Progress& progress, const std::atomic<bool>&) {
          progress("Services: Spooler");
          // The table follows only once the line has been shown: one line is never lost.
          while (!shownOne.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          ReportTable table;
          table.columns = {"Section", "Name"};
          table.Add({"Services", "Spooler"});
          return table;
        },
        [&](const std::string& line) {
          allInWindowThread = allInWindowThread && std::this_thread::get_id() == window;
          shown.push_back(line);
          shownOne.store(true);
        },
        [&](ReportTable table) {
          allInWindowThread = allInWindowThread && std::this_thread::get_id() == window;
          done.push_back(std::move(table));
        });
    EXPECT_TRUE(PumpUntil([&] { return !job.Running(); }));
  }
  EXPECT_TRUE(allInWindowThread);
  EXPECT_EQ(shown, std::vector<std::string>{"Services: Spooler"});
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(ClipboardText(done[0]), "Section\tName\r\nServices\tSpooler\r\n");

  done.clear();
  {
    ReportJob job(
        [](const ReportJob::Progress&, const std::atomic<bool>&) -> ReportTable {
          throw std::runtime_error("CreateFile \\\\.\\Q: failed");
        },
        [](const std::string&) {}, [&](ReportTable table) { done.push_back(table); });
    EXPECT_TRUE(PumpUntil([&] { return !job.Running(); }));
  }
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(ClipboardText(done[0]), "Error\r\nCreateFile \\\\.\\Q: failed\r\n");
}

// The window closes while the work is still going: the work is told to stop, the thread is gone
// when the job is, and nothing it handed over runs afterwards.
TEST(ReportJob, DestroyedWhileWorkingCancelsWaitsAndShowsNothingMore) {
  std::atomic<bool> started{false};
  std::atomic<bool> sawCancel{false};
  int callbacks = 0;
  {
    ReportJob job(
        [&](const ReportJob::Progress& progress, const std::atomic<bool>& cancel) {
          started.store(true);
          while (!cancel.load()) {
            progress("Game folder: item");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          sawCancel.store(true);
          return ReportTable{};
        },
        [&](const std::string&) { ++callbacks; }, [&](ReportTable) { ++callbacks; });
    while (!started.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(sawCancel.load());
  // Whatever was queued for the window is dropped with the job.
  while (PumpOneMessage()) {
  }
  EXPECT_EQ(callbacks, 0);
}

}  // namespace
}  // namespace kestrava
