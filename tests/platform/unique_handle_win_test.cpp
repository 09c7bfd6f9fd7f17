#include <windows.h>

#include <gtest/gtest.h>

#include "win32/unique_handle.h"

namespace kestrava {
namespace {

// The caller's pattern is `if (!Call(h.Put())) return GetLastError();` with other wrappers ending
// their scope in between: every way a wrapper closes must leave the last error as it found it,
// also when the close itself fails (a stale handle makes CloseHandle set ERROR_INVALID_HANDLE).
TEST(UniqueHandle, ClosingKeepsTheLastError) {
  enum class Closed { kByReset, kByDestructor, kByMoveAssignment };
  struct Case {
    const char* what;
    Closed how;
    bool stale;
  } cases[] = {
      {"Reset of a valid handle", Closed::kByReset, false},
      {"destructor of a valid handle", Closed::kByDestructor, false},
      {"move assignment over a valid handle", Closed::kByMoveAssignment, false},
      {"Reset of a stale handle", Closed::kByReset, true},
      {"destructor of a stale handle", Closed::kByDestructor, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    if (c.stale) ASSERT_TRUE(CloseHandle(event));
    {
      UniqueKernelHandle owner(event);
      SetLastError(1234);
      if (c.how == Closed::kByReset) owner.Reset();
      if (c.how == Closed::kByMoveAssignment) owner = UniqueKernelHandle();
    }
    EXPECT_EQ(GetLastError(), 1234u);
    if (!c.stale) {
      DWORD flags = 0;
      EXPECT_FALSE(GetHandleInformation(event, &flags)) << "the handle was closed";
    }
  }
}

}  // namespace
}  // namespace kestrava
