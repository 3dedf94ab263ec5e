// The scheduler: virtual time, quiescence, seeded interleaving, process end,
// and critical sections, exercised by small programs written against the
// platform API.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "resources/resource.h"
#include "simulator/corvane/corvane_image.h"
#include "simulator/device/device.h"
#include "simulator/wince/winapi.h"
#include "tests/support/test_device.h"

namespace {

sim::DeviceOptions program(std::function<int()> entry, sim::Kernel::Options kernel = {}) {
    sim::DeviceOptions options;
    options.kernel = kernel;
    options.program.entry = [entry = std::move(entry)](HINSTANCE) { return entry(); };
    return options;
}

sim::Kernel::Options seeded(std::uint64_t seed) {
    sim::Kernel::Options k;
    k.seed = seed;
    return k;
}

// A thread routine that runs a std::function passed as its parameter.
DWORD WINAPI run_function(LPVOID parameter) {
    (*static_cast<std::function<void()>*>(parameter))();
    return 0;
}

HANDLE start_thread(std::function<void()>* body) {
    DWORD id = 0;
    return CreateThread(nullptr, 0, run_function, body, 0, &id);
}

TEST(Scheduler, SleepWakesAtExactlyItsVirtualTime) {
    DWORD woke_at = 0;
    sim::Driver device(program([&] {
        std::function<void()> sleeper = [&] {
            Sleep(6000);
            woke_at = GetTickCount();
            Sleep(100000);
        };
        CloseHandle(start_thread(&sleeper));
        Sleep(1000000);
        return 0;
    }));
    device.start();
    EXPECT_EQ(device.next_deadline(), 6000);
    device.wait(5999);
    EXPECT_EQ(woke_at, 0u);
    device.wait(1);
    EXPECT_EQ(woke_at, 6000u);
    EXPECT_EQ(device.now(), 6000);
}

TEST(Scheduler, TheDriverActsOnlyWhenEveryThreadIsBlocked) {
    LONG counter = 0;
    std::vector<LONG> seen_by_driver;
    for (std::uint64_t seed : {0, 1, 2, 3}) {
        counter = 0;
        sim::Driver device(program(
            [&] {
                std::function<void()> worker = [&] {
                    for (int i = 0; i < 500; ++i) {
                        InterlockedIncrement(&counter);
                    }
                    Sleep(50);
                    for (int i = 0; i < 500; ++i) {
                        InterlockedIncrement(&counter);
                    }
                };
                for (int t = 0; t < 3; ++t) {
                    CloseHandle(start_thread(&worker));
                }
                for (int i = 0; i < 500; ++i) {
                    InterlockedIncrement(&counter);
                }
                Sleep(1000);
                return 0;
            },
            seeded(seed)));
        device.start();
        // start() returns only once every thread is blocked: the workers'
        // first halves and the main thread's loop are all done.
        EXPECT_EQ(counter, 2000);
        device.wait(50);
        EXPECT_EQ(counter, 3500);
        EXPECT_EQ(device.program_threads(), 0u);
    }
}

// Three threads log their names at every platform call; the order is the
// interleaving the scheduler chose.
std::string interleaving(std::optional<std::uint64_t> seed) {
    std::string log;
    sim::Kernel::Options k;
    k.seed = seed;
    LONG dummy = 0;
    sim::Driver device(program(
        [&] {
            std::function<void()> a = [&] {
                for (int i = 0; i < 20; ++i) {
                    InterlockedIncrement(&dummy);
                    log += 'a';
                }
            };
            std::function<void()> b = [&] {
                for (int i = 0; i < 20; ++i) {
                    InterlockedIncrement(&dummy);
                    log += 'b';
                }
            };
            CloseHandle(start_thread(&a));
            CloseHandle(start_thread(&b));
            for (int i = 0; i < 20; ++i) {
                InterlockedIncrement(&dummy);
                log += 'm';
            }
            Sleep(10);
            return 0;
        },
        k));
    device.start();
    device.wait(10);
    return log;
}

TEST(Scheduler, TheSameSeedGivesTheSameInterleaving) {
    for (std::uint64_t seed : {7, 99, 123456}) {
        EXPECT_EQ(interleaving(seed), interleaving(seed)) << seed;
    }
    std::set<std::string> distinct;
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
        distinct.insert(interleaving(seed));
    }
    EXPECT_GT(distinct.size(), 10u) << "seeds should explore different interleavings";
    // Without a seed a thread runs until it blocks or ends.
    EXPECT_EQ(interleaving(std::nullopt),
              std::string(20, 'm') + std::string(20, 'a') + std::string(20, 'b'));
}

TEST(Scheduler, ProcessEndStopsEveryOtherThreadAtItsNextCall) {
    int ticks = 0;
    sim::Driver device(program([&] {
        std::function<void()> ticker = [&] {
            for (;;) {
                Sleep(1000);
                ++ticks;
            }
        };
        CloseHandle(start_thread(&ticker));
        Sleep(2500);
        return 7;
    }));
    device.start();
    device.wait(10000);
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(device.program_state(), sim::ProgramState::Ended);
    EXPECT_EQ(device.exit_code(), 7);
    EXPECT_EQ(device.program_threads(), 0u);
    EXPECT_FALSE(device.next_deadline().has_value());
}

// A killed thread unwinds its stack: what it holds is destroyed, as when
// its body returns.
TEST(Scheduler, AThreadEndedWithItsProcessRunsItsDestructors) {
    struct Held {
        int* destroyed;
        ~Held() { ++*destroyed; }
    };
    int destroyed = 0;
    int woke = 0;
    sim::Driver device(program([&] {
        std::function<void()> holder = [&] {
            Held held{&destroyed};
            Sleep(100000);
            ++woke;
        };
        CloseHandle(start_thread(&holder));
        CloseHandle(start_thread(&holder));
        Sleep(10);
        return 0;
    }));
    device.start();
    EXPECT_EQ(destroyed, 0);
    device.wait(10);
    EXPECT_EQ(device.program_state(), sim::ProgramState::Ended);
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(woke, 0);
    EXPECT_EQ(device.program_threads(), 0u);
}

// The program's threads run on the host thread that drives the device,
// whichever that is (the web page drives from a thread of its own), and
// never on one of their own.
TEST(Scheduler, ProgramThreadsRunOnTheDrivingHostThread) {
    std::vector<std::thread::id> ran_on;
    sim::Driver device(program([&] {
        std::function<void()> worker = [&] {
            for (;;) {
                ran_on.push_back(std::this_thread::get_id());
                Sleep(1000);
            }
        };
        CloseHandle(start_thread(&worker));
        for (;;) {
            ran_on.push_back(std::this_thread::get_id());
            Sleep(1000);
        }
        return 0;
    }));
    std::thread::id first;
    std::thread::id second;
    std::thread([&] {
        first = std::this_thread::get_id();
        device.start();
    }).join();
    std::thread([&] {
        second = std::this_thread::get_id();
        device.wait(1000);
    }).join();
    ASSERT_EQ(ran_on.size(), 4u);
    EXPECT_EQ(ran_on[0], first);
    EXPECT_EQ(ran_on[1], first);
    EXPECT_EQ(ran_on[2], second);
    EXPECT_EQ(ran_on[3], second);
}

TEST(Scheduler, ExitThreadEndsOnlyTheCaller) {
    bool after_exit = false;
    int main_ran = 0;
    sim::Driver device(program([&] {
        std::function<void()> quitter = [&] {
            ExitThread(3);
            after_exit = true;
        };
        CloseHandle(start_thread(&quitter));
        Sleep(10);
        main_ran = 1;
        return 0;
    }));
    device.start();
    EXPECT_EQ(device.program_threads(), 0u);
    device.wait(10);
    EXPECT_FALSE(after_exit);
    EXPECT_EQ(main_ran, 1);
}

// Two threads each add 1 to a shared word 100 times with a scheduling point
// between the read and the write. Under the lock no update is lost, whatever
// the seed; without it some seed loses one, which shows that the seeds do
// switch threads there.
int shared_sum(std::uint64_t seed, bool locked) {
    int shared = 0;
    LONG dummy = 0;
    CRITICAL_SECTION section{};
    sim::Driver device(program(
        [&] {
            InitializeCriticalSection(&section);
            std::function<void()> adder = [&] {
                for (int i = 0; i < 100; ++i) {
                    if (locked)
                        EnterCriticalSection(&section);
                    const int seen = shared;
                    InterlockedIncrement(&dummy);
                    shared = seen + 1;
                    if (locked)
                        LeaveCriticalSection(&section);
                }
            };
            CloseHandle(start_thread(&adder));
            CloseHandle(start_thread(&adder));
            Sleep(100);
            DeleteCriticalSection(&section);
            return 0;
        },
        seeded(seed)));
    device.start();
    device.wait(100);
    return shared;
}

TEST(Scheduler, CriticalSectionsExcludeUnderEveryInterleaving) {
    bool lost_without_lock = false;
    for (std::uint64_t seed = 1; seed <= 30; ++seed) {
        EXPECT_EQ(shared_sum(seed, true), 200) << "seed " << seed;
        lost_without_lock = lost_without_lock || shared_sum(seed, false) != 200;
    }
    EXPECT_TRUE(lost_without_lock);
}

// CreateThread fails as it does on a device out of memory: no thread, no
// handle, the reason in GetLastError; the next creation works again.
TEST(Threads, CreateThreadFailsCleanlyWhenTold) {
    std::vector<bool> created;
    std::vector<DWORD> errors;
    int ran = 0;
    sim::Driver device(program([&] {
        std::function<void()> body = [&] { ++ran; };
        for (int i = 0; i < 3; ++i) {
            SetLastError(0);
            HANDLE h = start_thread(&body);
            created.push_back(h != nullptr);
            errors.push_back(GetLastError());
            if (h != nullptr) {
                CloseHandle(h);
            }
        }
        Sleep(10);
        return 0;
    }));
    ASSERT_TRUE(corvane_test::input(device, "thread-fail 2"));
    device.start();
    EXPECT_EQ(created, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(errors, (std::vector<DWORD>{ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY, 0}));
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(device.locked([](sim::Device& d) { return d.handles().size(); }), 0u);
    EXPECT_EQ(device.locked([](sim::Device& d) { return d.kernel().failing_thread_creations(); }),
              0);
}

// Corvane when its monitor cannot be started: the dialog still goes to the
// tray, no monitor runs, and the next time it goes to the tray the monitor
// starts.
TEST(Threads, CorvaneStartsNoMonitorWhenThreadCreationFailsAndRetriesOnTheNextHide) {
    sim::Driver device(sim::corvane_device_options());
    device.start();
    ASSERT_TRUE(corvane_test::input(device, "thread-fail 1"));
    ASSERT_TRUE(corvane_test::input(device, "ok"));
    EXPECT_EQ(device.program_threads(), 0u);
    EXPECT_EQ(AppState.monitorRunning, 0);
    EXPECT_EQ(device.locked([](sim::Device& d) { return d.shell().tray.size(); }), 1u);
    // Taps still set the speed without a monitor.
    EXPECT_TRUE(corvane_test::input(device, "tap"));
    EXPECT_EQ(device.program_state(), sim::ProgramState::Running);

    ASSERT_TRUE(corvane_test::input(device, "doubletap"));
    ASSERT_TRUE(corvane_test::input(device, "ok"));
    EXPECT_EQ(device.program_threads(), 1u);
    EXPECT_EQ(AppState.monitorRunning, 1);
}

// The process's mapped address space in MB, summed from /proc/self/maps.
// The maps, not VmSize from /proc/self/status: under the ARM emulator the
// status file describes the emulator itself, whose guest memory is reserved
// up front, while the maps it presents are the program's own.
double address_space_mb() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    unsigned long long bytes = 0;
    while (std::getline(maps, line)) {
        unsigned long long from = 0;
        unsigned long long to = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx", &from, &to) == 2 && to > from) {
            bytes += to - from;
        }
    }
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// A host thread holds megabytes of stack until it is joined: a program that
// starts and ends threads all day must not pile them up.
TEST(Threads, FreeRunningThreadsThatEndGiveBackTheirStacks) {
    sim::Kernel::Options k;
    k.scheduling = sim::Scheduling::FreeRunning;
    constexpr int kThreads = 64;
    auto run = [&] {
        LONG ended = 0;
        sim::Driver device(program(
            [&] {
                std::function<void()> body = [&] { InterlockedIncrement(&ended); };
                for (LONG i = 1; i <= kThreads; ++i) {
                    CloseHandle(start_thread(&body));
                    while (InterlockedCompareExchange(&ended, 0, 0) != i) {
                        Sleep(1);
                    }
                }
                return 0;
            },
            k));
        device.start();
        while (device.program_state() == sim::ProgramState::Running) {
            device.wait(10);
        }
        EXPECT_EQ(ended, kThreads);
        return address_space_mb();
    };
    // The first run sets up what the C library keeps for threads (its
    // allocation arenas, a cache of stacks); the second must add nothing
    // while its device is still there.
    run();
    const double before = address_space_mb();
    const double after = run();
    // Unjoined, the threads would hold 64 stacks of 8 MB.
    EXPECT_LT(after - before, 128.0) << "before " << before << " MB, after " << after << " MB";
}

TEST(Scheduler, FreeRunningThreadsRunInParallelAndStillExclude) {
    sim::Kernel::Options k;
    k.scheduling = sim::Scheduling::FreeRunning;
    k.free_running_speed = 1000;  // a virtual second is a wall millisecond
    LONG total = 0;
    int shared = 0;
    CRITICAL_SECTION section{};
    sim::Driver device(program(
        [&] {
            InitializeCriticalSection(&section);
            std::function<void()> adder = [&] {
                for (int i = 0; i < 2000; ++i) {
                    EnterCriticalSection(&section);
                    ++shared;
                    LeaveCriticalSection(&section);
                    InterlockedIncrement(&total);
                }
            };
            std::vector<HANDLE> threads;
            for (int t = 0; t < 4; ++t) {
                CloseHandle(start_thread(&adder));
            }
            for (;;) {
                Sleep(10);
                if (InterlockedCompareExchange(&total, 0, 0) == 8000) {
                    break;
                }
            }
            return 0;
        },
        k));
    device.start();
    while (device.program_state() == sim::ProgramState::Running) {
        device.wait(10);
    }
    EXPECT_EQ(device.exit_code(), 0);
    EXPECT_EQ(shared, 8000);
}

}  // namespace
