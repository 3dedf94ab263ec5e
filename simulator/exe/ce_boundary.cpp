#include "simulator/exe/ce_boundary.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "simulator/support/result.h"

namespace sim::ce {

namespace {

// Each program thread's innermost call into the image. Threads are fibers
// of one host thread or host threads of their own, so the chain is kept by
// program thread, not in thread-local storage.
struct Frames {
    std::mutex mu;
    std::unordered_map<const SimThread*, ImageFrame*> innermost;
};

Frames& frames() {
    static Frames f;
    return f;
}

SimThread& current_thread() {
    SimThread* self = Kernel::current();
    if (self == nullptr) {
        fatal("a call into the loaded image outside a program thread");
    }
    return *self;
}

ImageFrame* push(const SimThread& thread, ImageFrame& frame) {
    Frames& f = frames();
    std::lock_guard lock(f.mu);
    ImageFrame*& top = f.innermost[&thread];
    ImageFrame* outer = top;
    top = &frame;
    return outer;
}

void pop(const SimThread& thread, ImageFrame* outer) {
    Frames& f = frames();
    std::lock_guard lock(f.mu);
    if (outer == nullptr) {
        f.innermost.erase(&thread);
    } else {
        f.innermost[&thread] = outer;
    }
}

}  // namespace

ImageFrame& innermost_frame() {
    const SimThread& self = current_thread();
    Frames& f = frames();
    std::lock_guard lock(f.mu);
    auto it = f.innermost.find(&self);
    if (it == f.innermost.end()) {
        fatal("a platform function was entered from the image with no call into it");
    }
    return *it->second;
}

std::uint32_t call_image(std::uint32_t routine, std::initializer_list<std::uint32_t> args) {
    std::uint32_t words[8] = {};
    if (args.size() > 8) {
        fatal("a call into the image with more than eight arguments");
    }
    std::copy(args.begin(), args.end(), words);
    SimThread& self = current_thread();
    const std::uint32_t outer_site = self.call_site;
    self.call_site = 0;  // the image's own code runs: no platform call in progress
    ImageFrame frame;
    frame.outer = push(self, frame);
    if (setjmp(frame.jump) == 0) {
        const std::uint32_t result =
            corvane_ce_call(routine, words, static_cast<std::uint32_t>(args.size()));
        pop(self, frame.outer);
        self.call_site = outer_site;
        return result;
    }
    // A platform function below caught what unwinds this thread.
    pop(self, frame.outer);
    self.call_site = outer_site;
    std::rethrow_exception(frame.pending);
}

}  // namespace sim::ce
