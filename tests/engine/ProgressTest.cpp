// The progress line and the turns of pending window events, against frozen values.
#include "engine/Progress.h"

#include <gtest/gtest.h>

namespace qk::engine {
namespace {

TEST(Progress, PercentRoundsHalvesToEven) {
  const struct {
    std::int64_t done, total;
    const char* text;
  } rows[] = {
      {0, 10, "語0/10バイト　0%"},
      {1, 8, "語1/8バイト　12%"},
      {3, 8, "語3/8バイト　38%"},
      {5, 8, "語5/8バイト　62%"},
      {1, 16, "語1/16バイト　6%"},
      {1, 3, "語1/3バイト　33%"},
      {2, 3, "語2/3バイト　67%"},
      {16, 10, "語16/10バイト　160%"},
      {8192, 8192, "語8192/8192バイト　100%"},
      {4294967297, 8589934592, "語4294967297/8589934592バイト　50%"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ProgressText("語", row.done, row.total), row.text) << row.done << "/" << row.total;
  }
}

TEST(Progress, EventsEveryBlockAtIntervalOneOrLess) {
  Random random(7);
  for (const std::int32_t interval : {-5, 0, 1}) {
    for (int i = 0; i < 100; ++i) EXPECT_TRUE(ShouldPump(random, interval)) << interval;
  }
  // Otherwise about one block in interval.
  int pumps = 0;
  for (int i = 0; i < 30000; ++i) pumps += ShouldPump(random, 30) ? 1 : 0;
  EXPECT_GT(pumps, 700);
  EXPECT_LT(pumps, 1300);
}

} // namespace
} // namespace qk::engine
