// Trimming over synthetic native process lists, well-formed and not.
#include "boost/trim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "boost/process_records.h"
#include "tests/doubles/fake_process_list.h"

namespace kestrava {
namespace {

using testing::FakeProcessList;
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

TEST(SumTrimmableWorkingSets, CountsWhatATrimWouldReachAndTrimsNothing) {
  FakeProcessList port;
  port.Add(4, 256, 256, 1000);
  port.Add(8, 256, 256, 20000);  // refuses the open: a trim passes it over
  port.Add(12, 256, 256, std::size_t{3} << 30);
  // A record that ends before its working set's field: counted, with nothing to add, though the
  // bytes that follow it (the next record's) would read as a huge working set.
  port.Add(16, kProcessRecordMinimum, kProcessRecordMinimum);
  port.Add(24, 0, 256);
  std::memset(&port.list[port.list.size() - 256], 0xEE, kProcessIdOffset);
  port.refusing = {8};
  WorkingSetTotal total;
  ASSERT_TRUE(SumTrimmableWorkingSets(port, total));
  EXPECT_EQ(total.processes, 4u);
  EXPECT_EQ(total.bytes, 1000 + (std::uint64_t{3} << 30));
  EXPECT_TRUE(port.trimmed.empty());
  EXPECT_EQ(port.open, 0);

  int asked = 0;
  ASSERT_TRUE(SumTrimmableWorkingSets(port, total, [&] { return ++asked > 1; }));
  EXPECT_EQ(total.processes, 1u);  // cancelled before the second process
  EXPECT_EQ(total.bytes, 1000u);

  port.failWith = nt::kProcedureNotFound;
  EXPECT_FALSE(SumTrimmableWorkingSets(port, total));
  EXPECT_EQ(total.processes, 1u);  // left as it was
}

}  // namespace
}  // namespace kestrava
