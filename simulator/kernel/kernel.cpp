#include "simulator/kernel/kernel.h"

#include "simulator/tsan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
thread_local SimThread* tls_current = nullptr;
}  // namespace

Kernel::Kernel(Options options) : options_(options), wall_start_(std::chrono::steady_clock::now()) {
    if (options_.seed) {
        rng_.emplace(*options_.seed);
    }
}

Kernel::~Kernel() {
    shutdown();
}

Millis Kernel::now() const {
    if (options_.scheduling == Scheduling::FreeRunning) {
        const auto wall = std::chrono::steady_clock::now() - wall_start_;
        const double ms = std::chrono::duration<double, std::milli>(wall).count();
        return static_cast<Millis>(ms * options_.free_running_speed);
    }
    return now_;
}

SimThread* Kernel::current() {
    return tls_current;
}

SimThread& Kernel::spawn(std::string name, std::function<std::uint32_t()> body,
                         std::function<void(SimThread&)> on_finish) {
    auto owned = std::make_unique<SimThread>();
    SimThread* t = owned.get();
    t->id_ = next_thread_id_++;
    t->name_ = std::move(name);
    t->body_ = std::move(body);
    t->on_finish_ = std::move(on_finish);
    threads_.push_back(std::move(owned));
    make_ready(t);
    // A thread's creation orders what its creator did before with what it
    // does, so ThreadSanitizer must see it even from a hidden platform call.
    std::thread host;
    tsan::shown([&] { host = std::thread([this, t] { thread_main(t); }); });
    t->host_ = std::move(host);
    return *t;
}

void Kernel::thread_main(SimThread* t) {
    tls_current = t;
    bool run = false;
    {
        Lock lock(mu_);
        wait_for_baton(lock, t);
        run = !t->killed_;
    }
    std::optional<std::uint32_t> code;
    if (run) {
        try {
            code = t->body_();
        } catch (const ThreadExit& e) {
            code = e.code;
        } catch (const ThreadKilled&) {
            // The process ended under this thread; it has no exit code.
        }
    }
    Lock lock(mu_);
    t->exit_code_ = code;
    if (options_.scheduling == Scheduling::FreeRunning) {
        --active_;
    }
    t->state_ = SimThread::State::Finished;
    if (t->on_finish_) {
        t->on_finish_(*t);
    }
    if (options_.scheduling == Scheduling::Deterministic) {
        pass_baton(lock);
    }
    driver_cv_.notify_all();
    tls_current = nullptr;
}

void Kernel::make_ready(SimThread* t) {
    if (options_.scheduling == Scheduling::Deterministic) {
        t->state_ = SimThread::State::Ready;
        ready_.push_back(t);
    } else {
        t->state_ = SimThread::State::Running;
        ++active_;
        t->cv_.notify_one();
    }
}

bool Kernel::coin() {
    return rng_ && ((*rng_)() % 4) == 0;
}

SimThread* Kernel::take_next_ready() {
    std::size_t index = 0;
    if (rng_ && ready_.size() > 1) {
        index = (*rng_)() % ready_.size();
    }
    SimThread* next = ready_[index];
    ready_.erase(ready_.begin() + static_cast<std::ptrdiff_t>(index));
    return next;
}

void Kernel::pass_baton(Lock&) {
    // The last thread to block steps time itself when the driver is waiting
    // for time to pass: a thread that is the only one due then runs on
    // without handing the baton to the driver and back.
    step_for_driver();
    if (ready_.empty()) {
        running_ = nullptr;
        driver_cv_.notify_all();
        return;
    }
    running_ = take_next_ready();
    running_->state_ = SimThread::State::Running;
    running_->cv_.notify_one();
}

void Kernel::wait_for_baton(Lock& lock, SimThread* t) {
    if (options_.scheduling == Scheduling::Deterministic) {
        t->cv_.wait(lock, [&] { return running_ == t; });
    }
}

void Kernel::preemption_point(Lock& lock) {
    SimThread* self = current();
    if (self == nullptr) {
        return;
    }
    if (self->killed_) {
        throw ThreadKilled{};
    }
    if (options_.scheduling == Scheduling::Deterministic && !ready_.empty() && coin()) {
        self->state_ = SimThread::State::Ready;
        ready_.push_back(self);
        pass_baton(lock);
        wait_for_baton(lock, self);
        if (self->killed_) {
            throw ThreadKilled{};
        }
    }
}

void Kernel::block(Lock& lock, const void* channel, std::optional<Millis> wake_at) {
    SimThread* self = current();
    if (self == nullptr) {
        std::fprintf(stderr, "simulator: a blocking call was made outside a program thread\n");
        std::abort();
    }
    if (self->killed_) {
        throw ThreadKilled{};
    }
    self->channel_ = channel;
    self->wake_at_ = wake_at;
    self->state_ = SimThread::State::Blocked;
    if (options_.scheduling == Scheduling::Deterministic) {
        pass_baton(lock);
        wait_for_baton(lock, self);
    } else {
        --active_;
        driver_cv_.notify_all();
        auto woken = [&] { return self->state_ != SimThread::State::Blocked || self->killed_; };
        if (wake_at) {
            const auto wall_ms = static_cast<double>(*wake_at) / options_.free_running_speed;
            const auto deadline =
                wall_start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double, std::milli>(wall_ms));
            self->cv_.wait_until(lock, deadline, woken);
        } else {
            self->cv_.wait(lock, woken);
        }
        if (self->state_ == SimThread::State::Blocked) {
            self->state_ = SimThread::State::Running;
            ++active_;
        }
    }
    self->channel_ = nullptr;
    self->wake_at_.reset();
    if (self->killed_) {
        throw ThreadKilled{};
    }
}

void Kernel::notify(const void* channel) {
    for (auto& t : threads_) {
        if (t->state_ == SimThread::State::Blocked && t->channel_ == channel) {
            make_ready(t.get());
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
        if (t->state_ == SimThread::State::Blocked && t->wake_at_) {
            next = next ? std::min(*next, *t->wake_at_) : *t->wake_at_;
        }
    }
    return next;
}

void Kernel::settle(Lock& lock) {
    if (options_.scheduling == Scheduling::FreeRunning) {
        driver_cv_.wait(lock, [&] { return active_ == 0; });
        return;
    }
    while (!ready_.empty()) {
        running_ = take_next_ready();
        running_->state_ = SimThread::State::Running;
        running_->cv_.notify_one();
        driver_cv_.wait(lock, [&] { return running_ == nullptr; });
    }
}

void Kernel::fire_due() {
    // Device timers first, then the sleepers due at this instant, in the
    // order the threads were created. Timers belong to the device, not to
    // whichever thread happens to step time.
    SimThread* stepping = tls_current;
    tls_current = nullptr;
    while (!timers_.empty() && timers_.begin()->first <= now_) {
        auto fire = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        fire();
    }
    tls_current = stepping;
    for (auto& thread : threads_) {
        if (thread->state_ == SimThread::State::Blocked && thread->wake_at_ &&
            *thread->wake_at_ <= now_) {
            make_ready(thread.get());
        }
    }
}

void Kernel::step_for_driver() {
    while (advance_target_ && ready_.empty()) {
        const auto due = next_deadline();
        // With run_last false, the last step is the driver's to take.
        if (!due || *due > *advance_target_ || (*due == *advance_target_ && !advance_run_last_)) {
            return;
        }
        now_ = std::max(now_, *due);
        fire_due();
    }
}

void Kernel::advance_to(Lock& lock, Millis t, bool run_last) {
    if (options_.scheduling == Scheduling::FreeRunning) {
        // Time follows the wall clock; only waiting makes it pass.
        while (now() < t) {
            driver_cv_.wait_for(lock, std::chrono::milliseconds(1));
        }
        return;
    }
    advance_target_ = t;
    advance_run_last_ = run_last;
    for (;;) {
        settle(lock);
        const auto due = next_deadline();
        if (!due || *due > t) {
            break;
        }
        now_ = std::max(now_, *due);
        fire_due();
        if (now_ == t && !run_last) {
            advance_target_.reset();
            return;
        }
    }
    advance_target_.reset();
    now_ = std::max(now_, t);
}

bool Kernel::idle() const {
    if (options_.scheduling == Scheduling::FreeRunning) {
        return active_ == 0;
    }
    return ready_.empty() && running_ == nullptr;
}

void Kernel::kill_all_except(const SimThread* survivor) {
    for (auto& t : threads_) {
        if (t.get() == survivor || t->finished() || t->killed_) {
            continue;
        }
        t->killed_ = true;
        if (t->state_ == SimThread::State::Blocked) {
            make_ready(t.get());
        }
    }
}

std::vector<const SimThread*> Kernel::threads() const {
    std::vector<const SimThread*> out;
    for (const auto& t : threads_) {
        out.push_back(t.get());
    }
    return out;
}

std::size_t Kernel::live_threads() const {
    return static_cast<std::size_t>(std::count_if(threads_.begin(), threads_.end(),
                                                  [](const auto& t) { return !t->finished(); }));
}

void Kernel::shutdown() {
    {
        Lock lock(mu_);
        if (shut_down_) {
            return;
        }
        shut_down_ = true;
        kill_all_except(nullptr);
        if (options_.scheduling == Scheduling::Deterministic) {
            settle(lock);
        } else {
            driver_cv_.wait(lock, [&] {
                return std::all_of(threads_.begin(), threads_.end(),
                                   [](const auto& t) { return t->finished(); });
            });
        }
    }
    for (auto& t : threads_) {
        if (t->host_.joinable()) {
            t->host_.join();
        }
    }
}

}  // namespace sim
