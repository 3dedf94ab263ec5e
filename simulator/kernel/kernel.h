// Threads, virtual time and the scheduler of the simulated device.
//
// Kernel is what the device owns and the platform functions call. It keeps
// what every scheduler shares (the threads, the device timers, the lock,
// the wait observer) and is the base of the two schedulers, one of which
// Kernel::create picks from the options:
//
// - The deterministic one (deterministic.h) runs one program thread at a
//   time, each a fiber on the host thread that drives the device, and every
//   platform call is a point where another thread may take over. A thread
//   that sleeps, waits for a message or waits for a lock gives way to the
//   next ready thread, or back to the driver (the test or scenario runner)
//   when none is ready. The driver therefore acts only when every program
//   thread is blocked. Time is virtual: it moves only when the driver
//   advances it, to the next deadline of a sleeping thread or a device
//   timer. With a seed, the choice of the next thread and whether a thread
//   yields at a platform call are random but reproducible, so interleavings
//   can be explored and replayed.
// - The free-running one (free_running.h) runs the threads as host threads
//   truly in parallel, with virtual time following the wall clock (scaled),
//   for stress tests under ThreadSanitizer.
//
// A scheduler supplies its own thread record (derived from SimThread), how
// a thread starts, is made ready, waits and hands over, and how time moves.
// The platform calls' two hand-over points are Kernel's: preemption_point
// unwinds a killed thread around the scheduler's give_way, and block marks
// the thread blocked, lets the scheduler wait (wait_until_woken) and tells
// the wait observer when the wait returns. Every change of a thread's state
// (ready, running, blocked, finished) goes through Kernel::set_state, the
// schedulers' as well. All state here, and the whole device's, is guarded
// by one mutex.
#ifndef CORVANE_SIMULATOR_KERNEL_KERNEL_H
#define CORVANE_SIMULATOR_KERNEL_KERNEL_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "simulator/kernel/chooser.h"

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

// A program thread. Each scheduler derives its own record, holding how the
// thread runs (a fiber, a host thread). A thread's record is freed, with its
// stack, as soon as the thread has ended.
class SimThread {
  public:
    enum class State { Ready, Running, Blocked, Finished };

    virtual ~SimThread() = default;
    std::uint32_t id() const { return id_; }
    const std::string& name() const { return name_; }
    State state() const { return state_; }
    bool finished() const { return state_ == State::Finished; }
    std::optional<Millis> wake_at() const { return wake_at_; }
    std::optional<std::uint32_t> exit_code() const { return exit_code_; }
    // The thread's last error (GetLastError).
    std::uint32_t last_error = 0;
    // The address in a loaded image that the platform call now running on
    // this thread was made from (its return address), or 0: the trace names
    // it.
    std::uint32_t call_site = 0;
    // How many of the simulator's own frames this thread is in: platform
    // calls, less the program callbacks they run. 0 while the program's own
    // code runs, so that a fault then is the program's (the ARM lane's trap).
    int simulator_frames = 0;
    // The platform call the thread is in (the innermost), or nullptr.
    const char* platform_call = nullptr;

  private:
    // The kernel alone changes a thread (its state through set_state).
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
};

struct KernelOptions {
    Scheduling scheduling = Scheduling::Deterministic;
    std::optional<std::uint64_t> seed;  // random interleaving when set
    // Where the deterministic scheduler takes its choices (chooser.h); when
    // null, from a SeededChooser with the seed, or the defaults without one.
    // It must outlive the kernel.
    Chooser* chooser = nullptr;
    double free_running_speed = 1000.0;  // virtual ms per wall ms (free-running)
};

class Kernel {
  public:
    using Options = KernelOptions;
    // Told of every wait that returns, on the thread that waited, with the
    // lock held: what it waited on (nullptr: time alone) and for how long.
    using WaitObserver = std::function<void(const void* channel, Millis from, Millis to)>;

    // A kernel run by the scheduler the options name.
    static std::unique_ptr<Kernel> create(Options options);
    virtual ~Kernel() = default;
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    // The program thread making the current call, or nullptr for the driver.
    static SimThread* current();

    std::mutex& mutex() { return mu_; }
    Scheduling scheduling() const { return options_.scheduling; }
    virtual Millis now() const = 0;

    // --- Threads (lock held) ---------------------------------------------
    // Creates a ready thread that will run `body`, whose result is the exit
    // code. `on_finish` runs (lock held) when the thread has ended, however
    // it ended. Returns nullptr, creating nothing, when the host cannot make
    // the thread.
    SimThread* spawn(std::string name, std::function<std::uint32_t()> body,
                     std::function<void(SimThread&)> on_finish = {});
    // The program's next `n` thread creations fail (CreateThread asks).
    void fail_next_thread_creations(int n) { failing_creations_ = n; }
    int failing_thread_creations() const { return failing_creations_; }
    // True, counting it off, when the next creation is to fail.
    bool take_creation_failure() {
        if (failing_creations_ <= 0) {
            return false;
        }
        --failing_creations_;
        return true;
    }
    // The id the next thread will get.
    std::uint32_t next_thread_id() const { return next_thread_id_; }
    // Ends every thread but the caller at its next platform call.
    void kill_all_except(const SimThread* survivor);
    // The threads that have not ended yet, in the order of their creation.
    std::vector<const SimThread*> threads() const;

    // --- Inside a platform call (lock held, on a program thread) ---------
    // Where another thread may take over; throws ThreadKilled for a killed
    // thread. Nothing happens here on the driver.
    // `call` names the platform call about to run, for the chooser.
    void preemption_point(Lock& lock, const char* call);
    // Blocks until notify(channel) or until virtual time `wake_at`, then
    // tells the wait observer; throws ThreadKilled instead for a thread
    // killed meanwhile. Fatal on the driver.
    void block(Lock& lock, const void* channel, std::optional<Millis> wake_at);
    void set_wait_observer(WaitObserver observer) { wait_observer_ = std::move(observer); }
    // Makes every thread blocked on `channel` ready.
    void notify(const void* channel);

    // --- Device timers (lock held) ----------------------------------------
    void add_timer(Millis at, std::function<void()> fire);
    std::optional<Millis> next_deadline() const;

    // --- Driver (lock held, on the driver thread) --------------------------
    // Runs program threads until every one is blocked or finished.
    virtual void settle(Lock& lock) = 0;
    // Moves virtual time to `t`, firing every deadline on the way in order
    // and letting the woken threads run. With run_last false, the threads
    // woken exactly at `t` are left ready for the caller to run later.
    virtual void advance_to(Lock& lock, Millis t, bool run_last = true) = 0;
    // The world has an input due: while set, the deterministic scheduler
    // lets its chooser say at each scheduling point whether the input
    // arrives now, and settle() then returns with threads still ready.
    virtual void set_input_due(bool due) { (void)due; }
    // Ends every thread and frees what they hold (lock not held). Each
    // scheduler's destructor calls it.
    virtual void shutdown() = 0;

  protected:
    explicit Kernel(Options options) : options_(options) {}

    // The scheduler's own part of preemption_point(), on a program thread
    // not killed: lets other threads run first if the scheduler so chooses.
    virtual void give_way(Lock& lock, SimThread& self, const char* call) = 0;
    // The scheduler's own part of block(): `self`, already marked blocked,
    // waits until it is made ready, or its deadline passes, or it is
    // killed. The caller clears what it waited on.
    virtual void wait_until_woken(Lock& lock, SimThread& self) = 0;
    // A new record of the scheduler's own kind.
    virtual std::unique_ptr<SimThread> make_thread() = 0;
    // Starts a new thread; false when the host cannot.
    virtual bool start(SimThread& t) = 0;
    virtual void make_ready(SimThread& t) = 0;
    // Runs a thread's body (lock not held) unless the thread was killed
    // before it ran: its exit code, or none when it was killed.
    std::optional<std::uint32_t> run_body(SimThread& t);
    // The end of a thread's body (lock held): records how it ended and
    // tells its owner.
    void finish(SimThread& t, std::optional<std::uint32_t> code);
    // Frees the records of the threads that have ended.
    void drop_finished();
    // Fires the device timers due at or before `now` with no program
    // thread current, then wakes the sleepers due by then.
    void fire_due(Millis now);

    static void set_current(SimThread* t);
    // The one place a thread's state changes. A thread that has finished
    // stays so: changing it is fatal.
    static void set_state(SimThread& t, SimThread::State state);
    static bool killed(const SimThread& t) { return t.killed_; }
    // Throws ThreadKilled when `t` is to unwind.
    static void unwind_if_killed(const SimThread& t);

    mutable std::mutex mu_;
    std::vector<std::unique_ptr<SimThread>> threads_;
    bool shut_down_ = false;

  private:
    // The calling program thread, marked blocked on `channel` until
    // `wake_at`; a killed thread unwinds instead. Fatal on the driver.
    SimThread& mark_blocked(const void* channel, std::optional<Millis> wake_at);

    Options options_;
    std::multimap<Millis, std::function<void()>> timers_;
    std::uint32_t next_thread_id_ = 1;
    int failing_creations_ = 0;
    WaitObserver wait_observer_;
};

}  // namespace sim

#endif
