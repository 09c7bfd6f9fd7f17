// The worker's view of the window against real Win32 controls: every read and write happens on
// the window thread while that thread keeps processing messages.
#include "app/boost_window_win.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

namespace kestrava {
namespace {

constexpr char kTestClass[] = "KestravaBoostWindowTest";

// Tells the port that the window is gone, as the main window does.
LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    if (auto* port = reinterpret_cast<BoostWindowWin*>(GetWindowLongPtrA(window, GWLP_USERDATA))) {
      port->WindowGone();
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class BoostWindowWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSA wc{};
    wc.lpfnWndProc = TestWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kTestClass;
    RegisterClassA(&wc);  // fails harmlessly when a previous test registered it
    form_ = CreateWindowExA(0, kTestClass, "test form", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                            wc.hInstance, nullptr);
    ASSERT_NE(form_, nullptr);
    controls_.statusBar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD, 0, 0, 0, 0, form_, nullptr,
                                          wc.hInstance, nullptr);
    int parts[2] = {100, -1};
    SendMessageA(controls_.statusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    controls_.gamePath = CreateWindowExA(0, "Edit", "D:\\Games\\", WS_CHILD, 0, 0, 100, 20, form_, nullptr,
                                         wc.hInstance, nullptr);
    for (HWND& box : controls_.boxes) {
      box = CreateWindowExA(0, "Button", "", WS_CHILD | BS_AUTOCHECKBOX, 0, 0, 100, 20, form_, nullptr,
                            wc.hInstance, nullptr);
      ASSERT_NE(box, nullptr);
    }
    port_ = std::make_unique<BoostWindowWin>(controls_, sysAbort_);
    SetWindowLongPtrA(form_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(port_.get()));
  }
  void TearDown() override {
    if (IsWindow(form_)) DestroyWindow(form_);
  }

  // Runs body on a worker thread while this (the window) thread processes messages, the way the
  // boost button's waiting loop does.
  template <typename Body>
  void RunOnWorker(Body body) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      body();
      done = true;
    });
    const DWORD start = GetTickCount();
    while (!done && GetTickCount() - start < 10000) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
    worker.join();
    ASSERT_TRUE(done) << "the worker was not served";
  }

  std::string Panel(int index) {
    char text[256] = "";
    SendMessageA(controls_.statusBar, SB_GETTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
  }

  HWND form_ = nullptr;
  BoostWindowControls controls_;
  std::atomic<bool> sysAbort_{false};
  std::unique_ptr<BoostWindowWin> port_;
};

TEST_F(BoostWindowWinTest, WorkerReadsAndWritesTheControlsOnTheWindowThread) {
  SendMessageA(controls_.boxes[static_cast<std::size_t>(OptionBox::chkStopTasks)], BM_SETCHECK, BST_CHECKED, 0);
  const DWORD windowThread = GetCurrentThreadId();
  bool tasks = false, memory = true, sameThread = false, ran = false;
  std::string path;
  RunOnWorker([&] {
    tasks = port_->IsChecked(OptionBox::chkStopTasks);
    memory = port_->IsChecked(OptionBox::chkDefragMem);
    path = port_->GamePath();
    port_->SetStatusText("Try to stop: Print Spooler");
    ran = port_->Synchronize([&] { sameThread = GetCurrentThreadId() == windowThread; });
  });
  EXPECT_TRUE(tasks);
  EXPECT_FALSE(memory);
  EXPECT_EQ(path, "D:\\Games\\");
  EXPECT_EQ(Panel(0), "Try to stop: Print Spooler");
  EXPECT_EQ(Panel(1), "");
  EXPECT_TRUE(ran);
  EXPECT_TRUE(sameThread);
}

TEST_F(BoostWindowWinTest, SysAbortIsSeenByTheWorkerAsSoonAsItIsSet) {
  bool before = true, after = false;
  RunOnWorker([&] { before = port_->SysAbort(); });
  sysAbort_ = true;
  RunOnWorker([&] { after = port_->SysAbort(); });
  EXPECT_FALSE(before);
  EXPECT_TRUE(after);
}

TEST_F(BoostWindowWinTest, ExceptionInASynchronisedRoutineReachesTheWorker) {
  std::string caught;
  RunOnWorker([&] {
    try {
      port_->Synchronize([] { throw std::runtime_error("from the window thread"); });
    } catch (const std::runtime_error& error) {
      caught = error.what();
    }
  });
  EXPECT_EQ(caught, "from the window thread");
}

TEST_F(BoostWindowWinTest, OnceTheWindowIsGoneNothingRunsAndNothingBlocks) {
  SendMessageA(controls_.boxes[0], BM_SETCHECK, BST_CHECKED, 0);
  DestroyWindow(form_);
  bool ran = false, synchronised = true, checked = true;
  std::string path = "not read";
  RunOnWorker([&] {
    synchronised = port_->Synchronize([&] { ran = true; });
    checked = port_->IsChecked(OptionBox::chkDefragMem);
    path = port_->GamePath();
    port_->SetStatusText("lost");
  });
  EXPECT_FALSE(synchronised);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(checked);
  EXPECT_EQ(path, "");
}

TEST_F(BoostWindowWinTest, MessageFromElsewhereRunsNothingStale) {
  // Any program can send the message to a window it finds; it must only drain our own queue.
  HWND handOff = FindWindowExA(HWND_MESSAGE, nullptr, "KestravaHandOff", nullptr);
  ASSERT_NE(handOff, nullptr);
  EXPECT_EQ(SendMessageA(handOff, WM_USER + 1, 0x1234, 0x5678), 0);
  bool ran = false;
  RunOnWorker([&] { port_->Synchronize([&] { ran = true; }); });
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace kestrava
