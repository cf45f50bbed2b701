#include "discovery/SearchSchedule.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace qdipc {
namespace {

using std::chrono::milliseconds;
using Clock = SearchSchedule::Clock;

const Clock::time_point kT0 = Clock::time_point{} + std::chrono::hours(5);

// The times (ms after the start) at which a caller ticking at `ticks` sends a repeat.
std::vector<long> RepeatsSentAt(SearchSchedule& schedule, const std::vector<long>& ticks) {
    std::vector<long> sent;
    for (const long t : ticks) {
        for (std::size_t n = schedule.Tick(kT0 + milliseconds(t)); n > 0; --n) {
            sent.push_back(t);
        }
    }
    return sent;
}

TEST(SearchScheduleTest, RepeatsAtTheirTimesAndNoOther) {
    struct Case {
        const char* name;
        std::vector<long> ticks;
        std::vector<long> sentAt;
    };
    const std::vector<Case> cases = {
        {"exact", {0, 299, 300, 301, 999, 1000, 5000}, {300, 1000}},
        {"driven by NextDue", {300, 1000}, {300, 1000}},
        {"late tick sends both", {1200, 1300}, {1200, 1200}},
        {"early ticks send nothing", {0, 100, 299}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SearchSchedule schedule;
        schedule.Start(kT0);
        EXPECT_EQ(RepeatsSentAt(schedule, c.ticks), c.sentAt);
    }
}

TEST(SearchScheduleTest, NextDueNamesEachRepeatThenNothing) {
    SearchSchedule schedule;
    EXPECT_FALSE(schedule.NextDue());  // not started
    schedule.Start(kT0);
    ASSERT_TRUE(schedule.NextDue());
    EXPECT_EQ(*schedule.NextDue(), kT0 + milliseconds(300));
    EXPECT_EQ(schedule.Tick(*schedule.NextDue()), 1u);
    ASSERT_TRUE(schedule.NextDue());
    EXPECT_EQ(*schedule.NextDue(), kT0 + milliseconds(1000));
    EXPECT_EQ(schedule.Tick(*schedule.NextDue()), 1u);
    EXPECT_FALSE(schedule.NextDue());
    EXPECT_FALSE(schedule.Repeating());
}

TEST(SearchScheduleTest, ANewSearchEndsTheRepeatsOfTheOneBefore) {
    SearchSchedule schedule;
    schedule.Start(kT0);
    EXPECT_EQ(schedule.Tick(kT0 + milliseconds(300)), 1u);
    // The second search starts at 500 ms: its repeats count from there, the
    // first one's 1 s repeat is not sent.
    schedule.Start(kT0 + milliseconds(500));
    EXPECT_EQ(RepeatsSentAt(schedule, {700, 799, 800, 1000, 1499, 1500, 3000}),
              (std::vector<long>{800, 1500}));
}

TEST(SearchScheduleTest, StoppedOrOutOfTimeSendsNothing) {
    SearchSchedule stopped;
    stopped.Start(kT0);
    stopped.Stop();
    EXPECT_FALSE(stopped.Repeating());
    EXPECT_EQ(stopped.Tick(kT0 + milliseconds(2000)), 0u);

    // A search that ends at 1 s has no use for the repeat at 1 s.
    SearchSchedule shortSearch;
    shortSearch.Start(kT0, milliseconds(1000));
    EXPECT_EQ(RepeatsSentAt(shortSearch, {300, 1000, 2000}), (std::vector<long>{300}));
    SearchSchedule longer;
    longer.Start(kT0, milliseconds(1001));
    EXPECT_EQ(RepeatsSentAt(longer, {300, 1000}), (std::vector<long>{300, 1000}));
}

}  // namespace
}  // namespace qdipc
