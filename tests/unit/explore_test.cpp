// The schedule explorer on a program small enough to reason about: two
// threads that each add one to a shared count with a read, a platform
// call, and a write back. Without a preemption between a read and its
// write-back the count ends at 2; one preemption is enough to lose an
// update.
#include <gtest/gtest.h>

#include "simulator/explore/explore.h"
#include "simulator/kernel/pct_chooser.h"
#include "simulator/kernel/schedule.h"
#include "tests/support/test_device.h"

namespace {

LONG g_count = 0;
LONG g_done = 0;
LONG g_calls = 0;

DWORD WINAPI add_one(LPVOID) {
    const LONG seen = g_count;
    InterlockedIncrement(&g_calls);  // a platform call: where the thread may lose the processor
    g_count = seen + 1;
    InterlockedIncrement(&g_done);
    return 0;
}

sim::DeviceOptions lost_update(sim::Kernel::Options kernel) {
    return corvane_test::run_as_program(
        [] {
            g_count = 0;
            g_done = 0;
            HANDLE other = CreateThread(nullptr, 0, add_one, nullptr, 0, nullptr);
            add_one(nullptr);
            while (g_done < 2) {
                Sleep(10);
            }
            CloseHandle(other);
        },
        kernel);
}

sim::Invariants count_is_two() {
    sim::Invariants inv;
    inv.at_every_step = [](const sim::Snapshot&) -> std::string {
        return g_done == 2 && g_count != 2 ? "lost an update: " + std::to_string(g_count) : "";
    };
    return inv;
}

TEST(Schedule, IsWrittenAsItIsReadAndRefusesWhatIsNoSchedule) {
    for (const char* text : {"", "0:1", "3:1,17:2,40:1"}) {
        auto parsed = sim::parse_schedule(text);
        ASSERT_TRUE(parsed.ok()) << text;
        EXPECT_EQ(parsed.value().to_string(), text);
    }
    for (const char* bad :
         {"1", "1:", ":1", "1:0", "2:1,1:1", "1:1,1:2", "1:1,", "a:b", "1:1;2:1"}) {
        EXPECT_FALSE(sim::parse_schedule(bad).ok()) << bad;
    }
}

TEST(Explorer, FindsTheLostUpdateWithOnePreemptionAndNotWithout) {
    sim::ExploreOptions options;
    options.preemptions = 0;
    const sim::ExploreReport none = sim::explore({}, lost_update, count_is_two(), options);
    EXPECT_FALSE(none.violation);
    EXPECT_EQ(none.total(), 1u) << "without a preemption the free choices are the only ones";

    options.preemptions = 1;
    const sim::ExploreReport one = sim::explore({}, lost_update, count_is_two(), options);
    ASSERT_TRUE(one.violation);
    EXPECT_EQ(one.violation->preemptions, 1);
    EXPECT_EQ(one.violation->what, "lost an update: 1");

    // The schedule it prints is the run: replayed, the same update is lost.
    sim::ReplayChooser replay(one.violation->schedule);
    const sim::CheckedRun again = sim::run_checked({}, lost_update, count_is_two(), replay);
    ASSERT_TRUE(again.violation);
    EXPECT_EQ(again.violation->what, "lost an update: 1");
    EXPECT_EQ(replay.misfit(), "");

    // And the default schedule loses nothing.
    sim::ReplayChooser plain(sim::Schedule{});
    EXPECT_FALSE(sim::run_checked({}, lost_update, count_is_two(), plain).violation);
}

TEST(Explorer, TheReductionLeavesOutOnlyRepeatsAndSleeps) {
    // A count that cannot be lost: every schedule holds, with or without the
    // reduction, and the reduction runs fewer of them.
    sim::Invariants never;
    sim::ExploreOptions options;
    options.preemptions = 2;
    options.reduce = false;
    const sim::ExploreReport full = sim::explore({}, lost_update, never, options);
    options.reduce = true;
    const sim::ExploreReport reduced = sim::explore({}, lost_update, never, options);
    EXPECT_FALSE(full.violation);
    EXPECT_FALSE(reduced.violation);
    EXPECT_EQ(full.pruned, 0u);
    EXPECT_GT(reduced.pruned, 0u);
    EXPECT_LT(reduced.total(), full.total());
    // Both find the lost update at the same bound.
    options.preemptions = 1;
    options.reduce = false;
    EXPECT_TRUE(sim::explore({}, lost_update, count_is_two(), options).violation);
}

TEST(Explorer, CountsEachScheduleOnceByItsPreemptions) {
    sim::Invariants never;
    sim::ExploreOptions options;
    options.preemptions = 1;
    const sim::ExploreReport one = sim::explore({}, lost_update, never, options);
    options.preemptions = 2;
    const sim::ExploreReport two = sim::explore({}, lost_update, never, options);
    ASSERT_EQ(one.schedules.size(), 2u);
    ASSERT_EQ(two.schedules.size(), 3u);
    // A higher bound adds schedules; it does not run the cheaper ones again.
    EXPECT_EQ(two.schedules[0], one.schedules[0]);
    EXPECT_EQ(two.schedules[1], one.schedules[1]);
    EXPECT_GT(two.schedules[2], 0u);
}

TEST(Pct, ASeedReplaysItsRunAndSomeSeedsButNotAllLoseTheUpdate) {
    int lost = 0;
    for (std::uint64_t seed = 1; seed <= 100; ++seed) {
        sim::PctChooser first(seed, 2, 10);
        const bool found =
            sim::run_checked({}, lost_update, count_is_two(), first).violation.has_value();
        sim::PctChooser again(seed, 2, 10);
        EXPECT_EQ(sim::run_checked({}, lost_update, count_is_two(), again).violation.has_value(),
                  found)
            << "seed " << seed;
        lost += found ? 1 : 0;
    }
    EXPECT_GT(lost, 0);
    EXPECT_LT(lost, 100);
}

}  // namespace
