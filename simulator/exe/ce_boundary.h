// Calls across the boundary between a loaded Windows CE image and the
// simulator (ARM lane only; see ce_abi.S for the two calling conventions).
//
// The simulator ends a thread by unwinding it with a C++ exception from
// inside a platform call (ThreadKilled, ThreadExit). The image's code has no
// unwind tables the simulator's runtime knows, so no exception may pass
// through its frames: every call into the image (call_image) sets a frame,
// and every platform function the image imports is wrapped (Guarded) so
// that what would unwind out of it is caught, handed to the innermost such
// frame on the thread, and thrown again there, past the image's frames,
// which hold nothing that needs unwinding (the program is plain C++ with no
// destructors). Nested calls work the same way: a dialog procedure called
// from the DialogBoxIndirectParamW that the entry called.
#ifndef CORVANE_SIMULATOR_EXE_CE_BOUNDARY_H
#define CORVANE_SIMULATOR_EXE_CE_BOUNDARY_H

#include <csetjmp>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <type_traits>

#include "simulator/kernel/kernel.h"

extern "C" {
std::uint32_t corvane_ce_call(std::uint32_t routine, const std::uint32_t* args,
                              std::uint32_t count);
void corvane_ce_import();
// The image's return address at the import being entered (ce_abi.S).
extern std::uint32_t corvane_ce_caller;
}

namespace sim::ce {

// A call into the image in progress on a thread.
struct ImageFrame {
    std::jmp_buf jump;
    std::exception_ptr pending;
    ImageFrame* outer = nullptr;
};

// The innermost call into the image on the calling program thread; fatal
// when there is none (a platform function reached from outside the image).
ImageFrame& innermost_frame();

// Calls `routine` in the image with up to eight word arguments, on a stack
// aligned to 4 and not 8, as the device calls an entry, a dialog procedure
// or a thread routine. What unwinds the thread inside is thrown again here.
std::uint32_t call_image(std::uint32_t routine, std::initializer_list<std::uint32_t> args);

// A platform function as a loaded image calls it: it records where in the
// image it was called from and keeps any exception out of the image's
// frames.
template <auto F>
struct Guarded;

template <class R, class... A, R (*F)(A...)>
struct Guarded<F> {
    static_assert(sizeof...(A) <= 8, "corvane_ce_import passes at most eight words");
    static_assert(((sizeof(A) <= 4) && ...), "a platform function takes 32-bit words only");

    static R call(A... args) {
        const std::uint32_t site = corvane_ce_caller;
        SimThread* self = Kernel::current();
        if (self == nullptr) {
            return F(args...);  // a platform call outside a program thread: fatal there
        }
        const std::uint32_t outer_site = self->call_site;
        self->call_site = site;
        ImageFrame& frame = innermost_frame();
        try {
            if constexpr (std::is_void_v<R>) {
                F(args...);
                self->call_site = outer_site;
                return;
            } else {
                R result = F(args...);
                self->call_site = outer_site;
                return result;
            }
        } catch (...) {
            frame.pending = std::current_exception();
        }
        std::longjmp(frame.jump, 1);
    }
};

}  // namespace sim::ce

#endif
