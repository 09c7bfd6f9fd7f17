#include <windows.h>
#include <process.h>

#include "common/error.h"
#include "common/system_message.h"
#include "common/thread.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

int ToWin32Priority(TThreadPriority priority) {
  switch (priority) {
    case tpIdle: return THREAD_PRIORITY_IDLE;
    case tpLowest: return THREAD_PRIORITY_LOWEST;
    case tpLower: return THREAD_PRIORITY_BELOW_NORMAL;
    case tpNormal: return THREAD_PRIORITY_NORMAL;
    case tpHigher: return THREAD_PRIORITY_ABOVE_NORMAL;
    case tpHighest: return THREAD_PRIORITY_HIGHEST;
    case tpTimeCritical: return THREAD_PRIORITY_TIME_CRITICAL;
  }
  return THREAD_PRIORITY_NORMAL;
}

unsigned __stdcall RunBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

struct Thread::Impl {
  UniqueKernelHandle thread;
};

Thread::Thread(std::function<void()> body, TThreadPriority priority) : impl_(new Impl) {
  auto start = std::make_unique<std::function<void()>>(std::move(body));
  unsigned id = 0;
  // _beginthreadex rather than CreateThread: bodies use the C runtime.
  const uintptr_t h = _beginthreadex(nullptr, 0, &RunBody, start.get(), CREATE_SUSPENDED, &id);
  if (h == 0) throw KestravaError("Thread creation error: " + SystemMessage(GetLastError()));
  start.release();  // the thread owns it now
  impl_->thread.Reset(reinterpret_cast<HANDLE>(h));
  SetThreadPriority(impl_->thread.Get(), ToWin32Priority(priority));
  ResumeThread(impl_->thread.Get());
}

Thread::~Thread() { WaitForSingleObject(impl_->thread.Get(), INFINITE); }

bool Thread::WaitFor(std::uint32_t milliseconds) {
  return WaitForSingleObject(impl_->thread.Get(), milliseconds) == WAIT_OBJECT_0;
}

}  // namespace kestrava
