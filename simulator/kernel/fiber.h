// A user-space execution context with a stack of its own (a fiber), switched
// without the host kernel's scheduler.
//
// The deterministic scheduler runs every program thread as a fiber on the
// host thread that drives the device. Control always passes between the
// driver and one fiber: Fiber::resume() runs the fiber until it calls
// Fiber::suspend() or its body returns. On x86-64 the switch is a few
// instructions that save the callee-saved registers on the stack being left
// and load them from the other one; elsewhere (the 32-bit ARM build) it is
// the C library's ucontext, whose swapcontext also saves and restores the
// signal mask with a system call at every switch. Both carry the annotations
// AddressSanitizer and ThreadSanitizer need to follow a stack switch.
//
// The driver may be a different host thread at each resume.
#ifndef CORVANE_SIMULATOR_KERNEL_FIBER_H
#define CORVANE_SIMULATOR_KERNEL_FIBER_H

#if defined(__x86_64__)
#define CORVANE_FIBER_STACK_SWITCH 1
#else
#include <ucontext.h>
#endif

#include <cstddef>
#include <functional>
#include <memory>

namespace sim {

class Fiber {
  public:
    // A fiber that will run `body` on a stack of `stack_size` bytes (plus a
    // guard page below it) when first resumed; nullptr when the host has no
    // memory for the stack. `body` must not let an exception escape.
    static std::unique_ptr<Fiber> create(std::function<void()> body, std::size_t stack_size);
    // Gives the stack back. The fiber must not be running; a fiber suspended
    // half-way is dropped without unwinding its stack.
    ~Fiber();
    Fiber(const Fiber&) = delete;
    Fiber& operator=(const Fiber&) = delete;

    // From the driver: runs the fiber until it suspends or ends.
    void resume();
    // From the fiber: returns control to the driver that resumed it.
    void suspend();
    bool done() const { return done_; }

  private:
    explicit Fiber(std::function<void()> body) : body_(std::move(body)) {}
    // Sets up the stack so that the first resume() calls entry() on it;
    // false when the C library cannot make the context.
    bool prepare_entry();
#ifdef CORVANE_FIBER_STACK_SWITCH
    static void entry(Fiber* self);
#else
    static void entry(unsigned hi, unsigned lo);
#endif
    void run();
    void switch_in();
    void switch_out(bool last);

    std::function<void()> body_;
    void* mapping_ = nullptr;
    std::size_t mapping_size_ = 0;
    void* stack_ = nullptr;
    std::size_t stack_size_ = 0;
#ifdef CORVANE_FIBER_STACK_SWITCH
    // The saved stack pointers of the fiber and of its driver while the
    // other one runs.
    void* sp_ = nullptr;
    void* driver_sp_ = nullptr;
#else
    ucontext_t context_{};
    ucontext_t driver_{};
#endif
    bool done_ = false;
    bool running_ = false;
    // AddressSanitizer: the driver's stack, learnt at each switch in, and
    // the driver's fake stack while the fiber runs.
    [[maybe_unused]] const void* driver_stack_ = nullptr;
    [[maybe_unused]] std::size_t driver_stack_size_ = 0;
    [[maybe_unused]] void* driver_fake_stack_ = nullptr;
    [[maybe_unused]] void* fiber_fake_stack_ = nullptr;
    // ThreadSanitizer: this fiber, and the fiber of the driving thread.
    [[maybe_unused]] void* tsan_fiber_ = nullptr;
    [[maybe_unused]] void* tsan_driver_ = nullptr;
};

}  // namespace sim

#endif
