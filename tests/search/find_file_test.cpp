#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/error.h"
#include "search/find_file.h"
#include "tests/doubles/memory_file_system.h"
#include "tests/doubles/pump_until.h"

namespace kestrava {
namespace {

using testing::FileTimeOf;
using testing::FixedOffsetTime;
using testing::MemoryFileSystem;

// A finder over an in-memory file system that writes every event into one log line.
struct Harness {
  MemoryFileSystem fs;
  FixedOffsetTime time;
  std::vector<std::string> log;
  std::unique_ptr<TFindFile> finder;

  explicit Harness(ThreadPort* threads = &PlatformThreads()) {
    SearchPorts ports;
    ports.directory = &fs;
    ports.paths = &fs;
    ports.localTime = &time;
    ports.threads = threads;
    finder = std::make_unique<TFindFile>(nullptr, ports);
    finder->OnFileMatch = [this](TFindFile&, const TFileDetails& d) {
      log.push_back(d.Folder + d.Name);
    };
    finder->OnFolderChange = [this](TFindFile&, const std::string& f, TFolderIgnore&) {
      log.push_back("enter " + f);
    };
    finder->OnSearchBegin = [this](TFindFile&) { log.push_back("begin"); };
    finder->OnSearchFinish = [this](TFindFile&) { log.push_back("finish"); };
    finder->OnSearchAbort = [this](TFindFile&) { log.push_back("abort"); };
  }
  TFileCriteria& Files() { return finder->Criteria().Files(); }
  TAttributesCriteria& Attributes() { return finder->Criteria().Attributes(); }
  // The engine's settings: every file, hidden and system ones included.
  void EngineCriteria(const std::string& folder) {
    Files().SetFileName("*");
    Files().SetLocation(folder + ";");
    Files().SetSubfolders(true);
    Attributes().Clear();
    Attributes().SetDirectory(fsAnyUnset);
  }
  std::vector<std::string> Matches() const {
    std::vector<std::string> m;
    for (const std::string& line : log) {
      if (line.find(' ') == std::string::npos && line != "begin" && line != "finish" &&
          line != "abort") {
        m.push_back(line);
      }
    }
    return m;
  }
};

using Lines = std::vector<std::string>;

TEST(FindFile, DefaultCriteriaReportDottedFilesOfTheFolderThenWalkSubfolders) {
  Harness h;
  h.fs.AddFile("C:\\G\\a.txt");
  h.fs.AddFile("C:\\G\\readme");
  h.fs.AddFile("C:\\G\\sub\\b.dat");
  h.fs.AddFile("C:\\G\\c.txt");
  h.Files().SetLocation("C:\\G");
  h.finder->Execute();
  EXPECT_EQ(h.log, (Lines{"begin", "enter C:\\G\\", "C:\\G\\a.txt", "C:\\G\\c.txt",
                          "enter C:\\G\\sub\\", "C:\\G\\sub\\b.dat", "finish"}));
  EXPECT_FALSE(h.finder->Busy());
  EXPECT_EQ(h.fs.openHandles, 0);
  EXPECT_EQ(h.fs.maxOpenHandles, 2) << "one enumeration per folder level";
  EXPECT_EQ(h.fs.findFirstCalls, 4)
      << "each folder is listed for its entries, then for its subfolders";
  EXPECT_EQ(h.fs.folderOnlyCalls, 2) << "the second listing only needs folders";
}

TEST(FindFile, EngineCriteriaReportEveryFileHiddenAndSystemIncluded) {
  Harness h;
  h.fs.AddFile("C:\\G\\a");
  h.fs.AddFolder("C:\\G\\hid", attr::kDirectory | attr::kHidden);
  h.fs.AddFile("C:\\G\\hid\\h.sys", 1, attr::kHidden | attr::kSystem);
  h.fs.AddFolder("C:\\G\\sys", attr::kDirectory | attr::kSystem);
  h.fs.AddFile("C:\\G\\sys\\s");
  h.EngineCriteria("C:\\G");
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"C:\\G\\a", "C:\\G\\hid\\h.sys", "C:\\G\\sys\\s"}));

  h.log.clear();
  h.Attributes().SetDirectory(fsIgnore);
  h.finder->Execute();
  EXPECT_EQ(h.Matches(),
            (Lines{"C:\\G\\a", "C:\\G\\hid", "C:\\G\\sys", "C:\\G\\hid\\h.sys", "C:\\G\\sys\\s"}));
}

TEST(FindFile, MasksIgnoreCaseAndEachEntryIsReportedOnce) {
  Harness h;
  h.fs.AddFile("C:\\G\\game.exe");
  h.fs.AddFile("C:\\G\\SAVE.Exe");
  h.fs.AddFile("C:\\G\\x.txt");
  h.Files().SetFileName("*.EXE");
  h.Files().SetLocation("C:\\G;c:\\g\\");  // one target whose masks appear twice
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"c:\\g\\game.exe", "c:\\g\\SAVE.Exe"}));
}

TEST(FindFile, LevelsLimitWhatIsReportedAndWhereTheWalkGoes) {
  Harness h;
  h.fs.AddFile("C:\\G\\1.x");
  h.fs.AddFile("C:\\G\\s\\2.x");
  h.fs.AddFile("C:\\G\\s\\t\\3.x");
  h.Files().SetLocation("C:\\G");
  h.Files().SetMaxLevel(1);
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"C:\\G\\1.x"}));
  EXPECT_EQ(h.fs.findFirstCalls, 1) << "no subfolder stage at the last level";

  h.log.clear();
  h.Files().SetMinLevel(2);
  h.Files().SetMaxLevel(2);
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"C:\\G\\s\\2.x"}));

  h.log.clear();
  h.Files().SetMinLevel(0);
  h.Files().SetMaxLevel(0);
  h.Files().SetSubfolders(false);
  h.Files().SetMaxLevel(5);
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"C:\\G\\1.x"}));

  h.log.clear();
  h.Files().SetLocation("3>C:\\G");  // the prefix turns subfolders on again
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"C:\\G\\1.x", "C:\\G\\s\\2.x", "C:\\G\\s\\t\\3.x"}));
}

TEST(FindFile, FolderChangeAnswersSkipEntriesOrSubfolders) {
  Harness h;
  h.fs.AddFile("C:\\G\\1.x");
  h.fs.AddFile("C:\\G\\s\\2.x");
  h.fs.AddFile("C:\\G\\s\\t\\3.x");
  h.fs.AddFile("C:\\G\\u\\4.x");
  h.Files().SetLocation("C:\\G");
  auto answer = [&h](const std::string& folder, TFolderIgnore ignore) {
    h.log.clear();
    h.finder->OnFolderChange = [=](TFindFile&, const std::string& f, TFolderIgnore& i) {
      EXPECT_EQ(i, fiNone);
      if (f == folder) i = ignore;
    };
    h.finder->Execute();
    return h.Matches();
  };
  EXPECT_EQ(answer("C:\\G\\", fiJustThis),
            (Lines{"C:\\G\\s\\2.x", "C:\\G\\s\\t\\3.x", "C:\\G\\u\\4.x"}));
  EXPECT_EQ(answer("C:\\G\\s\\", fiJustSubfolders),
            (Lines{"C:\\G\\1.x", "C:\\G\\s\\2.x", "C:\\G\\u\\4.x"}));
  EXPECT_EQ(answer("C:\\G\\s\\", fiThisAndSubfolders), (Lines{"C:\\G\\1.x", "C:\\G\\u\\4.x"}));
}

TEST(FindFile, ExcludedAttributesKeepTheWalkOutOfFolders) {
  Harness h;
  h.fs.AddFolder("C:\\G\\hid", attr::kDirectory | attr::kHidden);
  h.fs.AddFile("C:\\G\\hid\\a.x");
  h.fs.AddFolder("C:\\G\\link", attr::kDirectory | attr::kReparsePoint);
  h.fs.AddFile("C:\\G\\link\\b.x");
  h.fs.AddFolder("C:\\G\\hidlink", attr::kDirectory | attr::kReparsePoint | attr::kHidden);
  h.fs.AddFile("C:\\G\\hidlink\\c.x");
  h.Files().SetLocation("C:\\G");
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"C:\\G\\link\\b.x"}));

  h.log.clear();
  h.Attributes().SetHidden(fsIgnore);
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"C:\\G\\hid\\a.x", "C:\\G\\link\\b.x", "C:\\G\\hidlink\\c.x"}));
}

TEST(FindFile, UnlistableFoldersAreSkippedSilently) {
  Harness h;
  h.fs.AddFile("C:\\G\\a\\1.x");
  h.fs.AddFile("C:\\G\\b\\2.x");
  h.fs.AddFile("C:\\G\\c\\3.x");
  h.fs.Deny("C:\\G\\b");
  h.Files().SetLocation("C:\\Missing;C:\\G");
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"C:\\G\\a\\1.x", "C:\\G\\c\\3.x"}));
  EXPECT_EQ(h.fs.openHandles, 0);
}

TEST(FindFile, DetailsCarryTheFullSizeAndLocalTimes) {
  Harness h;
  h.fs.AddFile("C:\\G\\big.bin", 5LL << 30, attr::kArchive | attr::kSparseFile);
  h.fs.AddFile("C:\\G\\small.bin", 1);
  h.fs.SetTimes("C:\\G\\big.bin", FileTimeOf(2020, 1, 2, 3, 4, 5), FileTimeOf(2024, 3, 10, 11, 0),
                FileTimeOf(2024, 3, 11, 23, 30));
  h.Files().SetLocation("C:\\G");
  h.finder->Criteria().Size().Min = 5LL << 30;
  std::vector<TFileDetails> seen;
  h.finder->OnFileMatch = [&](TFindFile&, const TFileDetails& d) { seen.push_back(d); };
  h.finder->Execute();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Folder, "C:\\G\\");
  EXPECT_EQ(seen[0].Name, "big.bin");
  EXPECT_EQ(seen[0].Size, 5LL << 30);
  EXPECT_EQ(seen[0].Attributes, attr::kArchive | attr::kSparseFile);
  EXPECT_DOUBLE_EQ(seen[0].ModifiedTime, 45361.5) << "11:00 UTC is noon at UTC+1";
  EXPECT_DOUBLE_EQ(seen[0].AccessedTime, 45363 + 0.5 / 24);
  EXPECT_DOUBLE_EQ(seen[0].CreatedTime, EncodeDateTime({2020, 1, 2, 4, 4, 5, 0}));
}

TEST(FindFile, FiltersAndTimeBoundsApplyToTheWalkedEntries) {
  Harness h;
  h.fs.AddFile("C:\\G\\a.tmp", 0, attr::kArchive, FileTimeOf(2024, 3, 10, 8));
  h.fs.AddFile("C:\\G\\save\\b.tmp", 0, attr::kArchive, FileTimeOf(2024, 3, 10, 8));
  h.fs.AddFile("C:\\G\\save\\c.txt", 0, attr::kArchive, FileTimeOf(2024, 3, 9, 8));
  h.Files().SetLocation("C:\\G");
  h.Files().Filters().SetText(">*\\save\\*\r\n*.tmp");
  h.finder->Criteria().TimeStamp().ModifiedAfter = 45361;  // 10 March
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"C:\\G\\save\\b.tmp"}));
}

TEST(FindFile, AbortInsideFileMatchStopsAtOnce) {
  Harness h;
  h.fs.AddFile("C:\\G\\1.x");
  h.fs.AddFile("C:\\G\\2.x");
  h.fs.AddFile("C:\\G\\s\\3.x");
  h.Files().SetLocation("C:\\G;D:\\Other");
  h.fs.AddFile("D:\\Other\\4.x");
  h.finder->OnFileMatch = [&h](TFindFile& f, const TFileDetails& d) {
    h.log.push_back(d.Name);
    f.Abort();
    EXPECT_TRUE(f.Aborted());
    f.Abort();  // a second abort fires nothing
    h.log.push_back("after abort");
  };
  h.finder->Execute();
  EXPECT_EQ(h.log, (Lines{"begin", "enter C:\\G\\", "1.x", "abort", "after abort", "finish"}));
  EXPECT_EQ(h.fs.openHandles, 0);
  EXPECT_TRUE(h.finder->Aborted()) << "until the next search begins";

  h.log.clear();
  h.finder->OnFileMatch = nullptr;
  h.finder->Execute();
  EXPECT_FALSE(h.finder->Aborted());
  EXPECT_EQ(h.log.back(), "finish");
}

TEST(FindFile, AbortWithoutASearchAndExecuteWhileBusyDoNothing) {
  Harness h;
  h.fs.AddFile("C:\\G\\1.x");
  h.Files().SetLocation("C:\\G");
  h.finder->Abort();
  EXPECT_TRUE(h.log.empty());
  EXPECT_FALSE(h.finder->Aborted());
  int nested = 0;
  h.finder->OnFileMatch = [&](TFindFile& f, const TFileDetails&) {
    f.Execute();  // busy: ignored
    ++nested;
  };
  h.finder->Execute();
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(h.log, (Lines{"begin", "enter C:\\G\\", "finish"}));
}

TEST(FindFile, AHandlerErrorLeavesExecuteAfterTheFinish) {
  Harness h;
  h.fs.AddFile("C:\\G\\1.x");
  h.fs.AddFile("C:\\G\\2.x");
  h.Files().SetLocation("C:\\G");
  h.finder->OnFileMatch = [](TFindFile&, const TFileDetails&) { throw std::runtime_error("boom"); };
  EXPECT_THROW(h.finder->Execute(), std::runtime_error);
  EXPECT_EQ(h.log.back(), "finish");
  EXPECT_FALSE(h.finder->Busy());
  EXPECT_EQ(h.fs.openHandles, 0);
  // The lock was released: a search on another thread can still take it.
  h.finder->OnFileMatch = nullptr;
  std::thread other([&h] { h.finder->Execute(); });
  other.join();
  EXPECT_EQ(h.log.back(), "finish");
}

TEST(FindFile, AnErrorOfTheBeginHandlerAlsoLeavesAfterTheFinish) {
  Harness h;
  h.fs.AddFile("C:\\G\\1.x");
  h.Files().SetLocation("C:\\G");
  h.finder->OnSearchBegin = [](TFindFile&) { throw std::runtime_error("not now"); };
  EXPECT_THROW(h.finder->Execute(), std::runtime_error);
  EXPECT_EQ(h.log, (Lines{"finish"}));
  EXPECT_FALSE(h.finder->Busy());
  // The finder is idle again: the next search runs.
  h.finder->OnSearchBegin = nullptr;
  h.finder->Execute();
  EXPECT_EQ(h.log.back(), "finish");
  EXPECT_EQ(h.Matches(), (Lines{"C:\\G\\1.x"}));
}

TEST(FindFile, TheSearchUsesACopyOfTheCriteria) {
  Harness h;
  h.fs.AddFile("C:\\G\\1.x");
  h.fs.AddFile("C:\\G\\2.x");
  h.fs.AddFile("C:\\G\\3.y");
  h.Files().SetLocation("C:\\G");
  h.finder->OnFileMatch = [&h](TFindFile& f, const TFileDetails& d) {
    h.log.push_back(d.Name);
    f.Criteria().Files().SetLocation("C:\\Nowhere");
    f.Criteria().Attributes().SetArchive(fsUnset);
  };
  h.finder->Execute();
  EXPECT_EQ(h.Matches(), (Lines{"1.x", "2.x", "3.y"}));
}

// A thread port whose threads cannot be created.
class NoThreads final : public ThreadPort {
 public:
  std::unique_ptr<OwnerChannel> CreateChannel(std::function<void()> f) override {
    return PlatformThreads().CreateChannel(std::move(f));
  }
  std::unique_ptr<WorkerThread> StartThread(std::function<void()>, TThreadPriority) override {
    throw KestravaError("Thread creation error: no threads today");
  }
  bool PumpOneMessage() override { return PlatformThreads().PumpOneMessage(); }
  void YieldThread() override {}
  void ReportError(const std::string& m) override { errors.push_back(m); }
  std::vector<std::string> errors;
};

TEST(FindFile, AThreadThatCannotStartEndsTheSearch) {
  NoThreads threads;
  Harness h(&threads);
  h.Files().SetLocation("C:\\G");
  h.finder->Threaded = true;
  EXPECT_THROW(h.finder->Execute(), KestravaError);
  EXPECT_EQ(h.log, (Lines{"begin", "finish"}));
  EXPECT_FALSE(h.finder->Busy());
}

// The platform's threads and window, recording errors instead of showing them.
class RecordingThreads final : public ThreadPort {
 public:
  std::unique_ptr<OwnerChannel> CreateChannel(std::function<void()> f) override {
    return PlatformThreads().CreateChannel(std::move(f));
  }
  std::unique_ptr<WorkerThread> StartThread(std::function<void()> body,
                                            TThreadPriority p) override {
    priority = p;
    return PlatformThreads().StartThread(std::move(body), p);
  }
  bool PumpOneMessage() override { return PlatformThreads().PumpOneMessage(); }
  void YieldThread() override { PlatformThreads().YieldThread(); }
  void ReportError(const std::string& m) override { errors.push_back(m); }
  std::vector<std::string> errors;
  TThreadPriority priority = tpNormal;
};

// Serves the calling thread's messages through the threads port until done() holds.
template <typename Done>
bool PumpUntil(ThreadPort& threads, Done done) {
  return testing::PumpUntil(done, [&threads] { return threads.PumpOneMessage(); });
}

TEST(FindFile, AThreadedSearchWalksOnItsThreadAndFinishesInTheOwners) {
  RecordingThreads threads;
  Harness h(&threads);
  h.fs.AddFile("C:\\G\\1.x");
  h.fs.AddFile("C:\\G\\s\\2.x");
  h.Files().SetLocation("C:\\G");
  const std::thread::id owner = std::this_thread::get_id();
  std::atomic<int> onOwner{0}, onOther{0};
  std::thread::id finishThread;
  h.finder->OnFileMatch = [&](TFindFile&, const TFileDetails&) {
    (std::this_thread::get_id() == owner ? onOwner : onOther)++;
  };
  h.finder->OnSearchFinish = [&](TFindFile&) {
    finishThread = std::this_thread::get_id();
    h.log.push_back("finish");
  };
  h.finder->Threaded = true;
  h.finder->ThreadPriority = tpLower;
  h.finder->Execute();
  EXPECT_TRUE(h.finder->Busy()) << "busy until the owner handles the end";
  h.finder->Execute();  // ignored while busy
  ASSERT_TRUE(PumpUntil(threads, [&] { return !h.finder->Busy(); }));
  EXPECT_EQ(onOwner, 0);
  EXPECT_EQ(onOther, 2);
  EXPECT_EQ(finishThread, owner);
  EXPECT_EQ(threads.priority, tpLower);
  EXPECT_EQ(std::count(h.log.begin(), h.log.end(), "finish"), 1);
}

TEST(FindFile, AnErrorOnTheSearchThreadIsShownAndTheSearchFinishes) {
  RecordingThreads threads;
  Harness h(&threads);
  h.fs.AddFile("C:\\G\\1.x");
  h.Files().SetLocation("C:\\G");
  h.finder->OnFileMatch = [](TFindFile&, const TFileDetails&) {
    throw std::runtime_error("bad entry");
  };
  h.finder->Threaded = true;
  h.finder->Execute();
  ASSERT_TRUE(PumpUntil(threads, [&] { return !h.finder->Busy(); }));
  EXPECT_EQ(threads.errors, (Lines{"bad entry"}));
  EXPECT_EQ(h.log.back(), "finish");
}

// Blocks the search thread inside OnFileMatch until the owner has started to abort.
TEST(FindFile, AbortFromTheOwnerWaitsForTheRunningHandler) {
  RecordingThreads threads;
  Harness h(&threads);
  for (int i = 0; i < 50; ++i) h.fs.AddFile("C:\\G\\" + std::to_string(i) + ".x");
  h.Files().SetLocation("C:\\G");
  std::atomic<bool> inHandler{false}, handlerDone{false};
  std::atomic<int> matches{0};
  h.finder->OnFileMatch = [&](TFindFile& f, const TFileDetails&) {
    ++matches;
    inHandler = true;
    while (!f.Aborted()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    handlerDone = true;
  };
  std::atomic<bool> abortSawHandlerDone{false};
  h.finder->OnSearchAbort = [&](TFindFile&) {
    abortSawHandlerDone = handlerDone.load();
    h.log.push_back("abort");
  };
  h.finder->Threaded = true;
  h.finder->Execute();
  while (!inHandler) std::this_thread::yield();
  h.finder->Abort();
  EXPECT_TRUE(abortSawHandlerDone) << "OnSearchAbort waited for the handler";
  ASSERT_TRUE(PumpUntil(threads, [&] { return !h.finder->Busy(); }));
  EXPECT_EQ(matches, 1) << "no handler after the abort";
  EXPECT_EQ(h.log, (Lines{"begin", "enter C:\\G\\", "abort", "finish"}));
}

// Serves no message before the search thread has ended, so that the end of the search is
// certainly waiting in the queue while Abort pumps.
class LateThreads final : public ThreadPort {
 public:
  std::unique_ptr<OwnerChannel> CreateChannel(std::function<void()> f) override {
    return PlatformThreads().CreateChannel(std::move(f));
  }
  std::unique_ptr<WorkerThread> StartThread(std::function<void()> body,
                                            TThreadPriority p) override {
    return PlatformThreads().StartThread(
        [this, body] {
          body();
          ended = true;
        },
        p);
  }
  bool PumpOneMessage() override {
    while (!ended) std::this_thread::yield();
    return PlatformThreads().PumpOneMessage();
  }
  void YieldThread() override {}
  void ReportError(const std::string& m) override { errors.push_back(m); }
  std::atomic<bool> ended{false};
  std::vector<std::string> errors;
};

TEST(FindFile, AnEndArrivingWhileAbortWaitsIsHeldBackUntilTheAbortFired) {
  LateThreads threads;
  Harness h(&threads);
  h.fs.AddFile("C:\\G\\1.x");
  h.fs.AddFile("C:\\G\\2.x");
  h.Files().SetLocation("C:\\G");
  std::atomic<bool> inHandler{false};
  h.finder->OnFileMatch = [&](TFindFile& f, const TFileDetails&) {
    inHandler = true;
    while (!f.Aborted()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // Abort finds the lock taken
  };
  h.finder->Threaded = true;
  h.finder->Execute();
  while (!inHandler) std::this_thread::yield();
  h.finder->Abort();
  EXPECT_EQ(h.log, (Lines{"begin", "enter C:\\G\\", "abort", "finish"}));
  EXPECT_FALSE(h.finder->Busy());
}

TEST(FindFile, DestroyingTheFinderDuringAThreadedSearchWaitsForTheThread) {
  RecordingThreads threads;
  auto h = std::make_unique<Harness>(&threads);
  for (int i = 0; i < 20; ++i) h->fs.AddFile("C:\\G\\" + std::to_string(i) + ".x");
  h->Files().SetLocation("C:\\G");
  std::atomic<bool> started{false}, handlerDone{false};
  std::atomic<int> calls{0};
  h->finder->OnFileMatch = [&](TFindFile& f, const TFileDetails&) {
    started = true;
    ++calls;
    // Held until the destruction has begun, then slower than it: a destructor that did not wait
    // for the handler would return first.
    while (!f.Aborted()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    handlerDone = true;
  };
  int finishes = 0;
  h->finder->OnSearchFinish = [&](TFindFile&) { ++finishes; };
  h->finder->OnSearchAbort = [&](TFindFile&) { ++finishes; };
  h->finder->Threaded = true;
  h->finder->Execute();
  while (!started) std::this_thread::yield();
  h->finder.reset();  // must not return while the thread can still touch the finder
  EXPECT_TRUE(handlerDone) << "the destruction waited for the running handler";
  EXPECT_EQ(calls, 1) << "no handler once the destruction had begun";
  EXPECT_EQ(finishes, 0) << "no events from a finder being destroyed";
  // The notice the thread posted is discarded with the window.
  while (threads.PumpOneMessage()) {
  }
  EXPECT_EQ(h->fs.openHandles, 0);
}

TEST(FindFile, DestroyingTheFinderInItsFinishHandlerIsSafe) {
  RecordingThreads threads;
  Harness h(&threads);
  h.fs.AddFile("C:\\G\\1.x");
  h.Files().SetLocation("C:\\G");
  bool finished = false;
  h.finder->OnSearchFinish = [&](TFindFile&) {
    finished = true;
    h.finder.reset();
  };
  h.finder->Threaded = true;
  h.finder->Execute();
  ASSERT_TRUE(PumpUntil(threads, [&] { return finished; }));
  EXPECT_EQ(h.finder, nullptr);
}

}  // namespace
}  // namespace kestrava
