#include "simulator/kernel/deterministic.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
// A program thread's stack. The program's threads are shallow, but the
// platform functions build their trace on it, and the sanitizers' frames
// are several times larger. The pages are only touched as they are used.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kStackSize = 4 << 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::size_t kStackSize = 4 << 20;
#else
constexpr std::size_t kStackSize = 1 << 20;
#endif
#else
constexpr std::size_t kStackSize = 1 << 20;
#endif
}  // namespace

struct DeterministicScheduler::FiberThread : SimThread {
    std::unique_ptr<Fiber> fiber;
};

DeterministicScheduler::DeterministicScheduler(KernelOptions options) : Kernel(options) {
    if (options.chooser != nullptr) {
        chooser_ = options.chooser;
    } else if (options.seed) {
        seeded_.emplace(*options.seed);
        chooser_ = &*seeded_;
    }
}

DeterministicScheduler::~DeterministicScheduler() {
    shutdown();
}

std::unique_ptr<SimThread> DeterministicScheduler::make_thread() {
    return std::make_unique<FiberThread>();
}

bool DeterministicScheduler::start(SimThread& thread) {
    auto& t = static_cast<FiberThread&>(thread);
    t.fiber = Fiber::create([this, &t] { thread_body(this, &t); }, kStackSize);
    if (!t.fiber) {
        return false;
    }
    make_ready(t);
    return true;
}

void DeterministicScheduler::thread_body(DeterministicScheduler* self, FiberThread* t) {
    const std::optional<std::uint32_t> code = self->run_body(*t);
    Lock lock(self->mu_);
    self->finish(*t, code);
}

void DeterministicScheduler::make_ready(SimThread& t) {
    set_state(t, SimThread::State::Ready);
    ready_.push_back(&t);
}

SimThread* DeterministicScheduler::take_next_ready() {
    std::size_t index = 0;
    if (chooser_ != nullptr && ready_.size() > 1) {
        index = chooser_->choose({.kind = ChoiceKind::Thread,
                                  .options = ready_.size(),
                                  .last_gave_way = ready_.back() == gave_way_,
                                  .ready = &ready_});
    }
    gave_way_ = nullptr;
    SimThread* next = ready_[index];
    ready_.erase(ready_.begin() + static_cast<std::ptrdiff_t>(index));
    return next;
}

void DeterministicScheduler::run(Lock& lock, FiberThread& t) {
    running_ = &t;
    set_state(t, SimThread::State::Running);
    set_current(&t);
    lock.unlock();
    t.fiber->resume();
    lock.lock();
    set_current(nullptr);
    running_ = nullptr;
    if (t.finished()) {
        // Its stack and record go now, not when the device goes.
        drop_finished();
    }
}

void DeterministicScheduler::yield_to_driver(Lock& lock, FiberThread& self) {
    lock.unlock();
    self.fiber->suspend();
    lock.lock();
}

bool DeterministicScheduler::input_cuts_in(const SimThread* running, const char* call) {
    if (!input_due_ || input_taken_ || chooser_ == nullptr) {
        return input_taken_;
    }
    input_taken_ = chooser_->choose({.kind = ChoiceKind::Input,
                                     .options = 2,
                                     .running = running,
                                     .call = call,
                                     .ready = &ready_}) == 1;
    return input_taken_;
}

void DeterministicScheduler::give_way(Lock& lock, SimThread& self, const char* call) {
    if (chooser_ == nullptr) {
        return;
    }
    chooser_->step();
    if (input_cuts_in(&self, call)) {
        // The world acts before this call; the thread is first in line after.
        set_state(self, SimThread::State::Ready);
        ready_.push_front(&self);
        yield_to_driver(lock, static_cast<FiberThread&>(self));
        return;
    }
    if (!ready_.empty() && chooser_->choose({.kind = ChoiceKind::GiveWay,
                                             .options = 2,
                                             .running = &self,
                                             .call = call,
                                             .ready = &ready_}) == 1) {
        make_ready(self);
        gave_way_ = &self;
        yield_to_driver(lock, static_cast<FiberThread&>(self));
    }
}

void DeterministicScheduler::set_input_due(bool due) {
    input_due_ = due;
    input_taken_ = false;
}

void DeterministicScheduler::wait_until_woken(Lock& lock, SimThread& self) {
    yield_to_driver(lock, static_cast<FiberThread&>(self));
}

void DeterministicScheduler::settle(Lock& lock) {
    // When a thread gives way, time steps on (if the driver is advancing
    // it) before the next thread is chosen: a thread that is the only one
    // due then runs on without the driver taking a turn.
    while (!ready_.empty() && !input_cuts_in(nullptr, nullptr)) {
        run(lock, static_cast<FiberThread&>(*take_next_ready()));
        step_for_driver();
    }
}

void DeterministicScheduler::step_for_driver() {
    while (advance_target_ && ready_.empty()) {
        const auto due = next_deadline();
        // With run_last false, the last step is the driver's to take.
        if (!due || *due > *advance_target_ || (*due == *advance_target_ && !advance_run_last_)) {
            return;
        }
        now_ = std::max(now_, *due);
        fire_due(now_);
    }
}

void DeterministicScheduler::advance_to(Lock& lock, Millis t, bool run_last) {
    advance_target_ = t;
    advance_run_last_ = run_last;
    for (;;) {
        settle(lock);
        const auto due = next_deadline();
        if (!due || *due > t) {
            break;
        }
        now_ = std::max(now_, *due);
        fire_due(now_);
        if (now_ == t && !run_last) {
            advance_target_.reset();
            return;
        }
    }
    advance_target_.reset();
    now_ = std::max(now_, t);
}

void DeterministicScheduler::shutdown() {
    Lock lock(mu_);
    if (shut_down_) {
        return;
    }
    shut_down_ = true;
    // Every thread runs once more, to unwind at its next platform call.
    kill_all_except(nullptr);
    settle(lock);
}

}  // namespace sim
