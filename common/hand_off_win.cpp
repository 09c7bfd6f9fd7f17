#include <windows.h>

#include <atomic>
#include <memory>
#include <utility>

#include "common/error.h"
#include "common/hand_off.h"
#include "common/hand_off_queue.h"
#include "common/system_message.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

// "Run what is in your queue." WM_USER + 1, private to our own message-only windows.
constexpr UINT kHandOffMessage = WM_USER + 1;
constexpr char kWindowClass[] = "KestravaHandOff";

void MarkDone(HandOffQueue::Call& call) { call.done = true; }

}  // namespace

struct HandOff::Impl {
  HandOffQueue queue;
  DWORD owner = GetCurrentThreadId();
  UniqueWindow owned;  // destroyed by Close, in the owner thread
  // What other threads post and send to: null once Close has begun, so that only one Close
  // destroys the window.
  std::atomic<HWND> window{nullptr};
  std::weak_ptr<Impl> self;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kHandOffMessage) {
      if (auto* impl = reinterpret_cast<Impl*>(GetWindowLongPtrA(window, GWLP_USERDATA))) {
        // Work may destroy the HandOff; the queue lives on until this drain has seen it closed.
        const std::shared_ptr<Impl> keep = impl->self.lock();
        keep->queue.Drain(MarkDone);  // SendMessage wakes the sender once this returns
      }
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  static void RegisterClassOnce() {
    static const ATOM atom = [] {
      WNDCLASSA wc = {};
      wc.lpfnWndProc = &Impl::WindowProc;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = kWindowClass;
      return RegisterClassA(&wc);
    }();
    (void)atom;
  }
};

HandOff::HandOff() : impl_(std::make_shared<Impl>()) {
  impl_->self = impl_;
  Impl::RegisterClassOnce();
  UniqueWindow window(CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleA(nullptr), nullptr));
  if (!window) {
    throw KestravaError("Cannot create the hand-off window: " + SystemMessage(GetLastError()));
  }
  SetWindowLongPtrA(window.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl_.get()));
  impl_->window = window.Get();
  impl_->owned = std::move(window);
}

HandOff::~HandOff() { Close(); }

void HandOff::Post(std::function<void()> work) {
  if (impl_->queue.AddPosted(std::move(work))) PostMessageA(impl_->window, kHandOffMessage, 0, 0);
}

bool HandOff::Send(const std::function<void()>& work) {
  if (InOwnerThread()) {
    work();
    return true;
  }
  HandOffQueue::Call call;
  call.work = &work;
  if (!impl_->queue.AddCall(&call)) return false;
  // Blocks until the owner thread has handled the message, or fails at once when the window is
  // gone; either way the call must not stay queued once this frame ends.
  SendMessageA(impl_->window, kHandOffMessage, 0, 0);
  impl_->queue.Remove(&call);
  if (call.error) std::rethrow_exception(call.error);
  return call.ran;
}

void HandOff::Close() {
  impl_->queue.Close(MarkDone);
  if (HWND window = impl_->window.exchange(nullptr)) {
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    impl_->owned.Reset();
  }
}

bool HandOff::InOwnerThread() const { return GetCurrentThreadId() == impl_->owner; }

bool PumpOneMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    // Not ours to consume: leave it for the thread's own message loop.
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return true;
}

void YieldThread() { SwitchToThread(); }

}  // namespace kestrava
