#include "simulator/kernel/free_running.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "simulator/support/tsan.h"

namespace sim {

struct FreeRunningScheduler::HostThread : SimThread {
    std::condition_variable cv;
    std::thread host;
};

FreeRunningScheduler::FreeRunningScheduler(KernelOptions options)
    : Kernel(options), wall_(options.free_running_speed) {}

FreeRunningScheduler::~FreeRunningScheduler() {
    shutdown();
}

Millis FreeRunningScheduler::now() const {
    return wall_.now();
}

std::unique_ptr<SimThread> FreeRunningScheduler::make_thread() {
    return std::make_unique<HostThread>();
}

bool FreeRunningScheduler::start(SimThread& thread) {
    // The threads that have ended are joined here, so that a program that
    // starts and ends threads all day holds only the ones still running.
    reap();
    auto& t = static_cast<HostThread&>(thread);
    bool started = true;
    // A thread's creation orders what its creator did before with what it
    // does, so ThreadSanitizer must see it even from a hidden platform call.
    tsan::shown([&] {
        try {
            t.host = std::thread([this, &t] { thread_main(&t); });
        } catch (const std::system_error&) {
            started = false;
        }
    });
    if (started) {
        make_ready(t);
    }
    return started;
}

void FreeRunningScheduler::thread_main(HostThread* t) {
    set_current(t);
    const std::optional<std::uint32_t> code = run_body(*t);
    Lock lock(mu_);
    --active_;
    finish(*t, code);
    driver_cv_.notify_all();
    set_current(nullptr);
}

void FreeRunningScheduler::reap() {
    for (auto& t : threads_) {
        auto& h = static_cast<HostThread&>(*t);
        // A thread marked finished only returns after giving up the lock.
        // Its end orders everything it did with the freeing of its record.
        if (h.finished() && h.host.joinable()) {
            tsan::shown([&] { h.host.join(); });
        }
    }
    drop_finished();
}

void FreeRunningScheduler::make_ready(SimThread& t) {
    set_state(t, SimThread::State::Running);
    ++active_;
    static_cast<HostThread&>(t).cv.notify_one();
}

void FreeRunningScheduler::wait_until_woken(Lock& lock, SimThread& thread) {
    auto& self = static_cast<HostThread&>(thread);
    --active_;
    driver_cv_.notify_all();
    auto woken = [&] { return self.state() != SimThread::State::Blocked || killed(self); };
    if (const std::optional<Millis> wake_at = self.wake_at()) {
        self.cv.wait_until(lock, wall_.when(*wake_at), woken);
    } else {
        self.cv.wait(lock, woken);
    }
    // Woken by its deadline: nobody made it ready, so it does so itself.
    if (self.state() == SimThread::State::Blocked) {
        set_state(self, SimThread::State::Running);
        ++active_;
    }
}

void FreeRunningScheduler::settle(Lock& lock) {
    driver_cv_.wait(lock, [&] { return active_ == 0; });
}

void FreeRunningScheduler::advance_to(Lock& lock, Millis t, bool) {
    // Time follows the wall clock; only waiting makes it pass.
    while (now() < t) {
        driver_cv_.wait_for(lock, std::chrono::milliseconds(1));
    }
}

void FreeRunningScheduler::shutdown() {
    Lock lock(mu_);
    if (shut_down_) {
        return;
    }
    shut_down_ = true;
    kill_all_except(nullptr);
    driver_cv_.wait(lock, [&] {
        return std::all_of(threads_.begin(), threads_.end(),
                           [](const auto& t) { return t->finished(); });
    });
    reap();
}

}  // namespace sim
