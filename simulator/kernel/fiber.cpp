#include "simulator/kernel/fiber.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "simulator/support/result.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_FIBER_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define CORVANE_FIBER_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_FIBER_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define CORVANE_FIBER_TSAN 1
#endif

#ifdef CORVANE_FIBER_ASAN
extern "C" {
void __sanitizer_start_switch_fiber(void** fake_stack_save, const void* bottom, std::size_t size);
void __sanitizer_finish_switch_fiber(void* fake_stack_save, const void** bottom_old,
                                     std::size_t* size_old);
}
#endif
#ifdef CORVANE_FIBER_TSAN
extern "C" {
void* __tsan_get_current_fiber(void);
void* __tsan_create_fiber(unsigned flags);
void __tsan_destroy_fiber(void* fiber);
void __tsan_switch_to_fiber(void* fiber, unsigned flags);
}
#endif

#ifdef CORVANE_FIBER_ASAN
#include <sanitizer/asan_interface.h>
#endif

#ifdef CORVANE_FIBER_STACK_SWITCH
// corvane_fiber_switch(save, next) pushes the callee-saved registers and the
// SSE and x87 control words, stores the stack pointer in *save, loads `next`
// as the stack pointer and pops the same from it: the caller returns when
// some later switch names its saved stack pointer. The signal mask stays as
// it is (one mask for the whole host thread, which the program never
// changes). corvane_fiber_start is where a new fiber's first switch returns
// to: it calls the function in r13 with the argument in r12, from a stack
// aligned as the ABI asks, and marks the end of the call chain.
extern "C" void corvane_fiber_switch(void** save, void* next);
extern "C" void corvane_fiber_start();
asm(R"(
    .text
    .p2align 4
    .globl corvane_fiber_switch
    .hidden corvane_fiber_switch
    .type corvane_fiber_switch, @function
corvane_fiber_switch:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $8, %rsp
    stmxcsr (%rsp)
    fnstcw 4(%rsp)
    movq %rsp, (%rdi)
    movq %rsi, %rsp
    ldmxcsr (%rsp)
    fldcw 4(%rsp)
    addq $8, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .size corvane_fiber_switch, .-corvane_fiber_switch

    .p2align 4
    .globl corvane_fiber_start
    .hidden corvane_fiber_start
    .type corvane_fiber_start, @function
corvane_fiber_start:
    .cfi_startproc
    .cfi_undefined rip
    xorl %ebp, %ebp
    movq %r12, %rdi
    callq *%r13
    ud2
    .cfi_endproc
    .size corvane_fiber_start, .-corvane_fiber_start
)");
#endif

namespace sim {

namespace {

// Stacks of fibers that have ended, kept for the next fibers: a program
// that starts and ends a thread every few seconds then costs no mapping,
// unmapping and fresh page faults per thread. Only a few are kept, so that
// what a burst of threads took is given back. Under AddressSanitizer every
// stack is fresh, so that no state of a dead fiber's frames carries over.
class StackPool {
  public:
    struct Stack {
        void* mapping = nullptr;
        std::size_t size = 0;
    };

#ifndef CORVANE_FIBER_ASAN
    Stack take(std::size_t size) {
        std::lock_guard<std::mutex> guard(mu_);
        for (auto it = free_.begin(); it != free_.end(); ++it) {
            if (it->size == size) {
                const Stack found = *it;
                free_.erase(it);
                return found;
            }
        }
        return {};
    }

    void give_back(Stack stack) {
        std::lock_guard<std::mutex> guard(mu_);
        if (free_.size() < kKept) {
            free_.push_back(stack);
            return;
        }
        munmap(stack.mapping, stack.size);
    }

  private:
    static constexpr std::size_t kKept = 4;
    std::mutex mu_;
    std::vector<Stack> free_;
#else
    Stack take(std::size_t) {
        return {};
    }
    void give_back(Stack stack) {
        munmap(stack.mapping, stack.size);
    }
#endif
};

StackPool& stack_pool() {
    // Never destroyed: fibers may end during the destruction of statics.
    static auto* pool = new StackPool;
    return *pool;
}

// A stack mapping of `size` bytes: one an ended fiber gave back, or a fresh
// one whose lowest page stays inaccessible, so that an overflow faults at
// once instead of writing over whatever lies below. nullptr when the host
// has no memory for it.
void* map_stack(std::size_t size, std::size_t page) {
    if (void* kept = stack_pool().take(size).mapping) {
        return kept;
    }
    void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) {
        return nullptr;
    }
    if (mprotect(mapping, page, PROT_NONE) != 0) {
        munmap(mapping, size);
        return nullptr;
    }
    return mapping;
}

}  // namespace

std::unique_ptr<Fiber> Fiber::create(std::function<void()> body, std::size_t stack_size) {
    std::unique_ptr<Fiber> fiber(new Fiber(std::move(body)));
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    fiber->stack_size_ = (stack_size + page - 1) / page * page;
    const std::size_t mapping_size = fiber->stack_size_ + page;
    void* mapping = map_stack(mapping_size, page);
    if (mapping == nullptr) {
        return nullptr;
    }
    fiber->mapping_ = mapping;
    fiber->mapping_size_ = mapping_size;
    fiber->stack_ = static_cast<char*>(mapping) + page;
#ifdef CORVANE_FIBER_ASAN
    // A stack taken over from an ended fiber may still carry its poisoning.
    __asan_unpoison_memory_region(fiber->stack_, fiber->stack_size_);
#endif
    if (!fiber->prepare_entry()) {
        return nullptr;
    }
#ifdef CORVANE_FIBER_TSAN
    fiber->tsan_fiber_ = __tsan_create_fiber(0);
#endif
    return fiber;
}

bool Fiber::prepare_entry() {
#ifdef CORVANE_FIBER_STACK_SWITCH
    // The frame the first switch into the fiber pops: the control words,
    // r15, r14, r13 (what to call), r12 (its argument), rbx, rbp, and the
    // return address, which leaves the stack pointer 16-byte aligned.
    auto top = reinterpret_cast<std::uintptr_t>(stack_) + stack_size_;
    top &= ~std::uintptr_t{15};
    auto* frame = reinterpret_cast<std::uint64_t*>(top - 24 - 7 * 8);
    frame[0] = 0x1F80 | (std::uint64_t{0x037F} << 32);  // the ABI's initial MXCSR and x87 CW
    frame[1] = 0;                                       // r15
    frame[2] = 0;                                       // r14
    frame[3] = reinterpret_cast<std::uint64_t>(&Fiber::entry);
    frame[4] = reinterpret_cast<std::uint64_t>(this);
    frame[5] = 0;  // rbx
    frame[6] = 0;  // rbp
    frame[7] = reinterpret_cast<std::uint64_t>(&corvane_fiber_start);
    sp_ = frame;
    return true;
#else
    if (getcontext(&context_) != 0) {
        return false;
    }
    context_.uc_stack.ss_sp = stack_;
    context_.uc_stack.ss_size = stack_size_;
    context_.uc_link = nullptr;
    // makecontext passes int arguments only: the pointer goes in two halves.
    const auto self = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(this));
    const auto hi = static_cast<unsigned>(self >> 32);
    const auto lo = static_cast<unsigned>(self & 0xFFFFFFFFu);
    makecontext(&context_, reinterpret_cast<void (*)()>(&Fiber::entry), 2, hi, lo);
    return true;
#endif
}

Fiber::~Fiber() {
    if (running_) {
        fatal("a running fiber was destroyed");
    }
#ifdef CORVANE_FIBER_TSAN
    if (tsan_fiber_ != nullptr) {
        __tsan_destroy_fiber(tsan_fiber_);
    }
#endif
    if (mapping_ != nullptr) {
        stack_pool().give_back({mapping_, mapping_size_});
    }
}

#ifdef CORVANE_FIBER_STACK_SWITCH
void Fiber::entry(Fiber* self) {
    self->run();
}
#else
void Fiber::entry(unsigned hi, unsigned lo) {
    const std::uint64_t bits = (static_cast<std::uint64_t>(hi) << 32) | lo;
    reinterpret_cast<Fiber*>(static_cast<std::uintptr_t>(bits))->run();
}
#endif

void Fiber::run() {
    switch_in();
    body_();
    done_ = true;
    switch_out(true);
    fatal("a finished fiber was resumed");
}

void Fiber::switch_in() {
#ifdef CORVANE_FIBER_ASAN
    __sanitizer_finish_switch_fiber(fiber_fake_stack_, &driver_stack_, &driver_stack_size_);
#endif
}

void Fiber::switch_out(bool last) {
#ifdef CORVANE_FIBER_ASAN
    // A fiber that has ended leaves no fake stack to come back to.
    __sanitizer_start_switch_fiber(last ? nullptr : &fiber_fake_stack_, driver_stack_,
                                   driver_stack_size_);
#else
    (void)last;
#endif
#ifdef CORVANE_FIBER_TSAN
    __tsan_switch_to_fiber(tsan_driver_, 0);
#endif
#ifdef CORVANE_FIBER_STACK_SWITCH
    corvane_fiber_switch(&sp_, driver_sp_);
#else
    swapcontext(&context_, &driver_);
#endif
}

void Fiber::resume() {
    if (done_ || running_) {
        fatal("a fiber was resumed that cannot run");
    }
    running_ = true;
#ifdef CORVANE_FIBER_ASAN
    __sanitizer_start_switch_fiber(&driver_fake_stack_, stack_, stack_size_);
#endif
#ifdef CORVANE_FIBER_TSAN
    tsan_driver_ = __tsan_get_current_fiber();
    __tsan_switch_to_fiber(tsan_fiber_, 0);
#endif
#ifdef CORVANE_FIBER_STACK_SWITCH
    corvane_fiber_switch(&driver_sp_, sp_);
#else
    swapcontext(&driver_, &context_);
#endif
#ifdef CORVANE_FIBER_ASAN
    __sanitizer_finish_switch_fiber(driver_fake_stack_, nullptr, nullptr);
#endif
    running_ = false;
}

void Fiber::suspend() {
    switch_out(false);
    switch_in();
}

}  // namespace sim
