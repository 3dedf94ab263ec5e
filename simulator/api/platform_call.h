// The frame of every platform function: it locks the device, is a point
// where the scheduler may switch threads, and traces the call.
#ifndef CORVANE_SIMULATOR_API_PLATFORM_CALL_H
#define CORVANE_SIMULATOR_API_PLATFORM_CALL_H

#include <optional>
#include <string>

#include "simulator/device/device.h"
#include "simulator/support/hex.h"
#include "simulator/support/result.h"
#include "simulator/support/tsan.h"

namespace sim {

// Selects a platform call that is no scheduling point: it takes the device
// lock as every call does, but never passes the baton and never ends a
// killed thread. The coprocessor trap makes its calls this way, from inside
// a signal handler that must return to the instruction after the trap.
struct NoPreemption {};

class PlatformCall {
  public:
    explicit PlatformCall(const char* name) : PlatformCall(name, NoPreemption{}) {
        device_.kernel().preemption_point(lock_, name);
    }

    PlatformCall(const char* name, NoPreemption)
        : device_(Device::current()),
          hidden_(device_.kernel().scheduling() == Scheduling::FreeRunning),
          lock_(device_.kernel().mutex()),
          name_(name) {
        if (Kernel::current() == nullptr) {
            fatal(std::string(name) + " called outside a program thread");
        }
        SimThread* thread = Kernel::current();
        ++thread->simulator_frames;
        outer_call_ = thread->platform_call;
        thread->platform_call = name;
    }
    ~PlatformCall() {
        SimThread* thread = Kernel::current();
        --thread->simulator_frames;
        thread->platform_call = outer_call_;
    }
    PlatformCall(const PlatformCall&) = delete;
    PlatformCall& operator=(const PlatformCall&) = delete;

    Device& device() { return device_; }
    const char* name() const { return name_; }
    Lock& lock() { return lock_; }
    bool tracing() const { return device_.trace().enabled(); }

    // Traces the call with its arguments and result; `trapped_pc` for an
    // access made by a trapped instruction.
    void log(json args, json result, std::string note = {},
             std::optional<std::uint32_t> trapped_pc = std::nullopt) {
        if (!tracing()) {
            return;
        }
        device_.emit(CallEvent{name_, std::move(args), std::move(result), std::move(note),
                               Kernel::current()->call_site, trapped_pc});
    }

    // Runs program code (a callback) with the device unlocked.
    template <class F>
    auto outside(F&& f) {
        lock_.unlock();
        hidden_.end();
        --Kernel::current()->simulator_frames;
        auto result = f();
        ++Kernel::current()->simulator_frames;
        hidden_.begin();
        lock_.lock();
        return result;
    }

    // Runs `f` where ThreadSanitizer sees it: an access to the program's
    // own memory that the platform makes atomic, or a synchronisation the
    // platform provides.
    template <class F>
    void visible(F&& f) {
        hidden_.end();
        f();
        hidden_.begin();
    }

  private:
    // Hides the device's work from ThreadSanitizer for the life of the call
    // in the free-running mode (see tsan.h). Declared before the lock, so
    // that taking and dropping the lock are hidden too.
    class Hidden {
      public:
        explicit Hidden(bool on) : on_(on) { begin(); }
        ~Hidden() { end(); }
        Hidden(const Hidden&) = delete;
        Hidden& operator=(const Hidden&) = delete;
        void begin() {
            if (on_ && !active_) {
                tsan::hide_begin();
                active_ = true;
            }
        }
        void end() {
            if (active_) {
                tsan::hide_end();
                active_ = false;
            }
        }

      private:
        bool on_;
        bool active_ = false;
    };

    Device& device_;
    Hidden hidden_;
    Lock lock_;
    const char* name_;
    const char* outer_call_ = nullptr;
};

// Traces a call; its arguments are only built when someone listens.
#define SIM_LOG_CALL(call, ...)      \
    do {                             \
        if ((call).tracing()) {      \
            (call).log(__VA_ARGS__); \
        }                            \
    } while (0)

// A program error the device would not survive: report it and stop.
[[noreturn]] inline void program_fault(const std::string& what) {
    fatal("program fault: " + what);
}

}  // namespace sim

#endif
