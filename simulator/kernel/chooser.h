// Where the deterministic scheduler takes its choices from. At each point
// where more than one thing could happen next, the scheduler asks its
// chooser, and does what it answers; a chooser holds no scheduler state,
// and the scheduler holds no search state. Option 0 is always what the
// scheduler does by itself: the running thread goes on, the first thread in
// line runs, the world's next input waits until every thread is blocked.
//
// Swapping the source of the answers turns one run into another: a seeded
// chooser draws them at random (SeededChooser), a schedule replays them
// (schedule.h), the explorer enumerates them (explore.h).
#ifndef CORVANE_SIMULATOR_KERNEL_CHOOSER_H
#define CORVANE_SIMULATOR_KERNEL_CHOOSER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <random>

namespace sim {

class SimThread;

enum class ChoiceKind {
    // At a platform call: does the running thread give way to another
    // (1) or go on (0)?
    GiveWay,
    // Which of the ready threads runs next, by its place in line. After
    // the running thread gave way it is last in line, and the explorer
    // does not pick it again (that would be not giving way).
    Thread,
    // The world's next input is due: does it arrive now (1), while a
    // program thread could run, or wait until every thread is blocked (0)?
    Input,
};

struct ChoicePoint {
    ChoiceKind kind = ChoiceKind::Thread;
    std::size_t options = 2;
    // The thread that runs now (GiveWay, Input at a platform call), or null.
    const SimThread* running = nullptr;
    // The platform call the running thread is about to make (GiveWay,
    // Input at a platform call), or null.
    const char* call = nullptr;
    // Thread: whether the last one in line is the thread that just gave way.
    bool last_gave_way = false;
    // The threads ready to run, in line (for a chooser that ranks them).
    const std::deque<SimThread*>* ready = nullptr;
};

class Chooser {
  public:
    virtual ~Chooser() = default;
    // One of `point.options` (at least 2).
    virtual std::size_t choose(const ChoicePoint& point) = 0;
    // Told of every scheduling point, whether or not there is a choice:
    // where the explorer checks what must hold at every step. Lock held.
    virtual void step() {}
};

// Random but reproducible choices: a thread gives way one time in four, the
// next thread is drawn evenly, and an input never cuts in.
class SeededChooser final : public Chooser {
  public:
    explicit SeededChooser(std::uint64_t seed) : rng_(seed) {}
    std::size_t choose(const ChoicePoint& point) override {
        switch (point.kind) {
            case ChoiceKind::GiveWay:
                return rng_() % 4 == 0 ? 1 : 0;
            case ChoiceKind::Thread:
                return static_cast<std::size_t>(rng_() % point.options);
            case ChoiceKind::Input:
                return 0;
        }
        return 0;
    }

  private:
    std::mt19937_64 rng_;
};

}  // namespace sim

#endif
