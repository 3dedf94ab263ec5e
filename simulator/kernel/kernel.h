// Threads, virtual time and the scheduler of the simulated device.
//
// Program threads are host threads, but in the deterministic mode only one
// of them runs at a time: a thread runs while it holds the baton, and every
// platform call is a point where the baton may pass. A thread that sleeps,
// waits for a message or waits for a lock gives the baton to the next ready
// thread, or back to the driver (the test or scenario runner) when none is
// ready. The driver therefore acts only when every program thread is
// blocked. Time is virtual: it moves only when the driver advances it, to
// the next deadline of a sleeping thread or a device timer.
//
// With a seed, the choice of the next thread and whether a thread yields at a
// platform call are random but reproducible, so interleavings can be
// explored and replayed. In the free-running mode the threads run truly in
// parallel and virtual time follows the wall clock (scaled), for stress tests
// under ThreadSanitizer.
//
// All state here, and the whole device's, is guarded by one mutex.
#ifndef CORVANE_SIMULATOR_KERNEL_KERNEL_H
#define CORVANE_SIMULATOR_KERNEL_KERNEL_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace sim {

using Millis = std::int64_t;
using Lock = std::unique_lock<std::mutex>;

enum class Scheduling { Deterministic, FreeRunning };

// Thrown inside a platform call to unwind a thread whose process has ended.
struct ThreadKilled {};
// Thrown by ExitThread to unwind the calling thread.
struct ThreadExit {
    std::uint32_t code;
};

class SimThread {
  public:
    enum class State { Ready, Running, Blocked, Finished };

    std::uint32_t id() const { return id_; }
    const std::string& name() const { return name_; }
    State state() const { return state_; }
    bool finished() const { return state_ == State::Finished; }
    std::optional<Millis> wake_at() const { return wake_at_; }
    const void* channel() const { return channel_; }
    std::optional<std::uint32_t> exit_code() const { return exit_code_; }

  private:
    friend class Kernel;
    std::uint32_t id_ = 0;
    std::string name_;
    State state_ = State::Ready;
    bool killed_ = false;
    std::optional<Millis> wake_at_;
    const void* channel_ = nullptr;
    std::optional<std::uint32_t> exit_code_;
    std::function<std::uint32_t()> body_;
    std::function<void(SimThread&)> on_finish_;
    std::condition_variable cv_;
    std::thread host_;
};

class Kernel {
  public:
    struct Options {
        Scheduling scheduling = Scheduling::Deterministic;
        std::optional<std::uint64_t> seed;   // random interleaving when set
        double free_running_speed = 1000.0;  // virtual ms per wall ms (free-running)
    };

    explicit Kernel(Options options);
    ~Kernel();
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    std::mutex& mutex() { return mu_; }
    Scheduling scheduling() const { return options_.scheduling; }
    Millis now() const;

    // --- Threads (lock held) ---------------------------------------------
    // Creates a ready thread that will run `body`, whose result is the exit code. `on_finish` runs
    // (lock held) when the thread has ended, however it ended.
    SimThread& spawn(std::string name, std::function<std::uint32_t()> body,
                     std::function<void(SimThread&)> on_finish = {});
    // The program thread making the current call, or nullptr for the driver.
    static SimThread* current();
    // Ends every thread but the caller at its next platform call.
    void kill_all_except(const SimThread* survivor);
    std::vector<const SimThread*> threads() const;
    std::size_t live_threads() const;

    // --- Inside a platform call (lock held, on a program thread) ---------
    // Where the baton may pass; throws ThreadKilled for a killed thread.
    void preemption_point(Lock& lock);
    // Blocks until notify(channel) or until virtual time `wake_at`.
    void block(Lock& lock, const void* channel, std::optional<Millis> wake_at);
    // Makes every thread blocked on `channel` ready.
    void notify(const void* channel);

    // --- Device timers (lock held) ----------------------------------------
    void add_timer(Millis at, std::function<void()> fire);
    std::optional<Millis> next_deadline() const;

    // --- Driver (lock held, on the driver thread) --------------------------
    // Runs program threads until every one is blocked or finished.
    void settle(Lock& lock);
    // Moves virtual time to `t`, firing every deadline on the way in order
    // and letting the woken threads run. With run_last false, the threads
    // woken exactly at `t` are left ready for the caller to run later.
    void advance_to(Lock& lock, Millis t, bool run_last = true);
    // True when no program thread is ready or running.
    bool idle() const;

    // Stops every thread and joins them all (lock not held).
    void shutdown();

  private:
    void thread_main(SimThread* t);
    // Fires the device timers and wakes the sleepers due at or before now_.
    void fire_due();
    // While the driver advances time and nothing is ready, moves time to
    // the next deadline within its target, on behalf of the driver.
    void step_for_driver();
    void make_ready(SimThread* t);
    SimThread* take_next_ready();
    void pass_baton(Lock& lock);
    void wait_for_baton(Lock& lock, SimThread* t);
    bool coin();

    Options options_;
    mutable std::mutex mu_;
    std::optional<std::mt19937_64> rng_;
    Millis now_ = 0;
    std::chrono::steady_clock::time_point wall_start_;
    std::vector<std::unique_ptr<SimThread>> threads_;
    std::deque<SimThread*> ready_;
    SimThread* running_ = nullptr;  // deterministic: the baton holder; nullptr: driver
    std::size_t active_ = 0;        // free-running: threads neither blocked nor finished
    std::condition_variable driver_cv_;
    std::uint32_t next_thread_id_ = 1;
    std::multimap<Millis, std::function<void()>> timers_;
    std::optional<Millis> advance_target_;  // set while the driver is in advance_to
    bool advance_run_last_ = true;
    bool shut_down_ = false;
};

}  // namespace sim

#endif
