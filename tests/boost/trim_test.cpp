// Trimming over synthetic native process lists, well-formed and not.
#include "boost/trim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "boost/process_records.h"

namespace kestrava {
namespace {

// A process list the test lays out byte by byte, answered as the native query answers: "too
// small" until the caller's buffer holds it all.
class FakeProcessList final : public ProcessListPort {
 public:
  std::vector<std::uint8_t> list;
  NtStatus failWith = nt::kSuccess;
  std::set<std::uint32_t> refusing;  // ids whose open fails
  std::vector<std::uint32_t> queriedLengths, opened, trimmed;
  int open = 0;

  // Appends a record of size bytes (the last one's NextEntryOffset stays as given).
  void Add(std::uint32_t id, std::uint32_t next, std::size_t size = 256) {
    const std::size_t at = list.size();
    list.resize(at + size, 0);
    std::memcpy(&list[at], &next, sizeof next);
    void* handleSized = reinterpret_cast<void*>(static_cast<std::uintptr_t>(id));
    std::memcpy(&list[at + kProcessIdOffset], &handleSized, sizeof handleSized);
  }

  NtStatus QueryProcessList(void* buffer, std::uint32_t length) override {
    queriedLengths.push_back(length);
    if (failWith != nt::kSuccess) return failWith;
    if (length < list.size()) return nt::kInfoLengthMismatch;
    std::memset(buffer, 0xCD, length);  // what lies past the list is not the caller's to read
    std::memcpy(buffer, list.data(), list.size());
    return nt::kSuccess;
  }
  WinError OpenForQuota(std::uint32_t id, Handle* process) override {
    opened.push_back(id);
    if (refusing.count(id) != 0) return err::kAccessDenied;
    ++open;
    *process = id + 1;
    return err::kSuccess;
  }
  WinError EmptyWorkingSet(Handle process) override {
    trimmed.push_back(static_cast<std::uint32_t>(process - 1));
    return err::kSuccess;
  }
  void Close(Handle) override { --open; }
};

using Ids = std::vector<std::uint32_t>;

TEST(TrimProcessWorkingSets, WalksTheWholeChainAndPassesOverWhatCannotBeOpened) {
  FakeProcessList port;
  port.Add(0, 256);
  port.Add(4, 256);
  port.Add(1234, 256);
  port.Add(88, 0);
  port.refusing = {0, 4};
  EXPECT_TRUE(TrimProcessWorkingSets(port));
  EXPECT_EQ(port.opened, (Ids{0, 4, 1234, 88}));
  EXPECT_EQ(port.trimmed, (Ids{1234, 88}));  // the last record too
  EXPECT_EQ(port.open, 0);
  EXPECT_EQ(port.queriedLengths, (Ids{32768}));
}

TEST(TrimProcessWorkingSets, ALargeListIsAskedForAgainWithTwiceTheBuffer) {
  FakeProcessList port;
  for (std::uint32_t id = 1; id <= 500; ++id) port.Add(id * 4, id == 500 ? 0 : 256);  // 125 KiB
  EXPECT_TRUE(TrimProcessWorkingSets(port));
  EXPECT_EQ(port.queriedLengths, (Ids{32768, 65536, 131072}));
  EXPECT_EQ(port.trimmed.size(), 500u);
}

TEST(TrimProcessWorkingSets, UntrustedOffsetsNeverLeadOutsideTheBuffer) {
  {
    SCOPED_TRACE("an offset past the data returned");
    FakeProcessList port;
    port.Add(8, 256);
    port.Add(12, 0xFFFFFF00u);
    EXPECT_TRUE(TrimProcessWorkingSets(port));
    EXPECT_EQ(port.trimmed, (Ids{8, 12}));
  }
  {
    SCOPED_TRACE("a chain that never ends");
    FakeProcessList port;
    // Records just large enough to be read, filling the buffer, each pointing at the next.
    const std::size_t count = 32768 / kProcessRecordMinimum;
    for (std::size_t i = 0; i < count; ++i) {
      port.Add(16, kProcessRecordMinimum, kProcessRecordMinimum);
    }
    EXPECT_TRUE(TrimProcessWorkingSets(port));
    EXPECT_EQ(port.opened.size(), count);
  }
  {
    SCOPED_TRACE("a last record cut short by the buffer's end");
    FakeProcessList port;
    port.Add(20, 32768 - 8, 32768);  // points 8 bytes before the end: no room for a record
    EXPECT_TRUE(TrimProcessWorkingSets(port));
    EXPECT_EQ(port.opened, (Ids{20}));
  }
}

TEST(TrimProcessWorkingSets, AFailedQueryTrimsNothing) {
  FakeProcessList port;
  port.Add(4, 0);
  port.failWith = 0xC0000022;  // access denied
  EXPECT_FALSE(TrimProcessWorkingSets(port));
  port.failWith = nt::kProcedureNotFound;
  EXPECT_FALSE(TrimProcessWorkingSets(port));
  EXPECT_TRUE(port.opened.empty());
}

}  // namespace
}  // namespace kestrava
