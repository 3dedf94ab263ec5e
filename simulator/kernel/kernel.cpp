#include "simulator/kernel/kernel.h"

#include <algorithm>

#include "simulator/kernel/deterministic.h"
#include "simulator/kernel/free_running.h"
#include "simulator/support/result.h"

namespace sim {

namespace {
// The program thread running on this host thread. The deterministic
// scheduler sets it around each switch to a fiber; a free-running thread
// sets it once for its life.
thread_local SimThread* tls_current = nullptr;
}  // namespace

SimThread* Kernel::current() {
    return tls_current;
}

void Kernel::set_current(SimThread* t) {
    tls_current = t;
}

void Kernel::set_state(SimThread& t, SimThread::State state) {
    if (t.finished()) {
        fatal("thread " + std::to_string(t.id_) + " changed state after it ended");
    }
    t.state_ = state;
}

void Kernel::unwind_if_killed(const SimThread& t) {
    if (t.killed_) {
        throw ThreadKilled{};
    }
}

std::unique_ptr<Kernel> Kernel::create(Options options) {
    if (options.scheduling == Scheduling::FreeRunning) {
        return std::make_unique<FreeRunningScheduler>(options);
    }
    return std::make_unique<DeterministicScheduler>(options);
}

SimThread* Kernel::spawn(std::string name, std::function<std::uint32_t()> body,
                         std::function<void(SimThread&)> on_finish) {
    std::unique_ptr<SimThread> owned = make_thread();
    SimThread& t = *owned;
    t.id_ = next_thread_id_;
    t.name_ = std::move(name);
    t.body_ = std::move(body);
    t.on_finish_ = std::move(on_finish);
    threads_.push_back(std::move(owned));
    if (!start(t)) {
        threads_.pop_back();
        return nullptr;
    }
    ++next_thread_id_;
    return &t;
}

std::optional<std::uint32_t> Kernel::run_body(SimThread& t) {
    {
        Lock lock(mu_);
        if (t.killed_) {
            return std::nullopt;
        }
    }
    try {
        return t.body_();
    } catch (const ThreadExit& e) {
        return e.code;
    } catch (const ThreadKilled&) {
        // The process ended under this thread; it has no exit code.
        return std::nullopt;
    }
}

void Kernel::finish(SimThread& t, std::optional<std::uint32_t> code) {
    t.exit_code_ = code;
    set_state(t, SimThread::State::Finished);
    if (t.on_finish_) {
        t.on_finish_(t);
    }
}

void Kernel::drop_finished() {
    std::erase_if(threads_, [](const auto& t) { return t->finished(); });
}

void Kernel::kill_all_except(const SimThread* survivor) {
    for (auto& t : threads_) {
        if (t.get() == survivor || t->finished() || t->killed_) {
            continue;
        }
        t->killed_ = true;
        if (t->state() == SimThread::State::Blocked) {
            make_ready(*t);
        }
    }
}

std::vector<const SimThread*> Kernel::threads() const {
    std::vector<const SimThread*> out;
    for (const auto& t : threads_) {
        if (!t->finished()) {
            out.push_back(t.get());
        }
    }
    return out;
}

SimThread& Kernel::mark_blocked(const void* channel, std::optional<Millis> wake_at) {
    SimThread* self = Kernel::current();
    if (self == nullptr) {
        fatal("a blocking call was made outside a program thread");
    }
    unwind_if_killed(*self);
    self->channel_ = channel;
    self->wake_at_ = wake_at;
    set_state(*self, SimThread::State::Blocked);
    return *self;
}

void Kernel::preemption_point(Lock& lock, const char* call) {
    SimThread* self = current();
    if (self == nullptr) {
        return;
    }
    unwind_if_killed(*self);
    give_way(lock, *self, call);
    unwind_if_killed(*self);
}

void Kernel::block(Lock& lock, const void* channel, std::optional<Millis> wake_at) {
    const Millis from = now();
    SimThread& self = mark_blocked(channel, wake_at);
    wait_until_woken(lock, self);
    self.channel_ = nullptr;
    self.wake_at_.reset();
    unwind_if_killed(self);
    if (wait_observer_) {
        wait_observer_(channel, from, now());
    }
}

void Kernel::notify(const void* channel) {
    for (auto& t : threads_) {
        if (t->state() == SimThread::State::Blocked && t->channel_ == channel) {
            make_ready(*t);
        }
    }
}

void Kernel::add_timer(Millis at, std::function<void()> fire) {
    timers_.emplace(at, std::move(fire));
}

std::optional<Millis> Kernel::next_deadline() const {
    std::optional<Millis> next;
    if (!timers_.empty()) {
        next = timers_.begin()->first;
    }
    for (const auto& t : threads_) {
        if (t->state() == SimThread::State::Blocked && t->wake_at_) {
            next = next ? std::min(*next, *t->wake_at_) : *t->wake_at_;
        }
    }
    return next;
}

void Kernel::fire_due(Millis now) {
    // Device timers first, then the sleepers due at this instant, in the
    // order the threads were created. Timers belong to the device, not to
    // whichever thread happens to step time.
    SimThread* stepping = tls_current;
    tls_current = nullptr;
    while (!timers_.empty() && timers_.begin()->first <= now) {
        auto fire = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        fire();
    }
    tls_current = stepping;
    for (auto& thread : threads_) {
        if (thread->state() == SimThread::State::Blocked && thread->wake_at_ &&
            *thread->wake_at_ <= now) {
            make_ready(*thread);
        }
    }
}

}  // namespace sim
