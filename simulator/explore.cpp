#include "simulator/explore.h"

#include <chrono>
#include <cmath>

#include "simulator/input.h"

namespace sim {

namespace {

// Passes the choices on and checks, at every step, what must hold then.
class CheckingChooser final : public Chooser {
  public:
    CheckingChooser(Chooser& inner, const Invariants& invariants, std::optional<Violation>& found,
                    const std::size_t& traced)
        : inner_(inner), invariants_(invariants), found_(found), traced_(traced) {}

    std::size_t choose(const ChoicePoint& point) override { return inner_.choose(point); }

    void step() override {
        ++steps_;
        if (found_ || !invariants_.at_every_step) {
            return;
        }
        Device& device = Device::current();
        if (device.program_state() != ProgramState::Running) {
            return;
        }
        const std::string why = invariants_.at_every_step(take_snapshot(device));
        if (!why.empty()) {
            found_ = Violation{
                {},
                0,
                why,
                "step " + std::to_string(steps_) + " at " + std::to_string(device.now()) + " ms",
                {}};
            events_at_violation = traced_;
        }
    }

    std::size_t events_at_violation = 0;

  private:
    Chooser& inner_;
    const Invariants& invariants_;
    std::optional<Violation>& found_;
    const std::size_t& traced_;
    std::size_t steps_ = 0;
};

bool idle(Driver& driver) {
    return driver.locked([](Device& d) {
        for (const SimThread* t : d.kernel().threads()) {
            if (t->state() != SimThread::State::Blocked) {
                return false;
            }
        }
        return true;
    });
}

void set_input_due(Driver& driver, bool due) {
    driver.locked([due](Device& d) { d.kernel().set_input_due(due); });
}

std::string first_word(const std::string& text) {
    return text.substr(0, text.find_first_of(" \t#"));
}

}  // namespace

namespace {

// A scenario run under a chooser, checking as it goes.
class CheckedScenario {
  public:
    CheckedScenario(const DeviceFactory& make, const Invariants& invariants, Chooser& chooser,
                    const RunHooks& hooks)
        : invariants_(invariants),
          hooks_(hooks),
          checking_(chooser, invariants, run_.violation, traced_),
          driver_(make(options(checking_))) {
        if (hooks_.attach) {
            hooks_.attach(driver_);
            // The trace's length, for the report of a violation.
            driver_.trace().add_sink([this](const TraceEvent&) { ++traced_; });
        }
    }

    CheckedRun run(const std::vector<Command>& commands) {
        driver_.start();
        check_idle("after the start");
        for (const Command& c : commands) {
            command(c);
        }
        driver_.settle();
        check_idle("at the end");
        run_.violation_trace_events = checking_.events_at_violation;
        if (hooks_.report) {
            report_result();
        }
        if (hooks_.finish) {
            hooks_.finish(driver_);
        }
        return run_;
    }

  private:
    static Kernel::Options options(Chooser& chooser) {
        Kernel::Options kernel;
        kernel.chooser = &chooser;
        return kernel;
    }

    void report(json line) {
        if (hooks_.report) {
            hooks_.report(line);
        }
    }

    void found(std::string what, std::string where) {
        if (!run_.violation) {
            run_.violation = Violation{{}, 0, std::move(what), std::move(where), {}};
            checking_.events_at_violation = traced_;
        }
    }

    void check_idle(const std::string& where) {
        if (invariants_.when_idle && driver_.program_state() == ProgramState::Running &&
            idle(driver_)) {
            if (std::string why = invariants_.when_idle(driver_.snapshot()); !why.empty()) {
                found(why, where);
            }
        }
    }

    void command(const Command& c) {
        if (c.kind == Command::Kind::Schedule) {
            return;
        }
        const std::string line = "line " + std::to_string(c.line) + " (" + c.text + ")";
        if (c.kind != Command::Kind::Input) {
            driver_.settle();
            check_idle("before " + line);
            if (c.kind == Command::Kind::Expect) {
                expect(c, line);
            }
            return;
        }
        report({{"line", c.line}, {"command", c.text}, {"t", driver_.now()}});
        const Snapshot before = driver_.snapshot();
        // Once the input's time has come it may arrive at any scheduling
        // point until it is delivered.
        set_input_due(driver_, true);
        driver_.settle();
        set_input_due(driver_, false);
        deliver(driver_, c.input);
        if (before.program.state == ProgramState::Running &&
            driver_.program_state() != ProgramState::Running && invariants_.at_end) {
            driver_.settle();
            const std::string why =
                invariants_.at_end(driver_.snapshot(), first_word(c.text), before);
            if (!why.empty()) {
                found(why, "after " + line);
            }
        }
    }

    void expect(const Command& c, const std::string& line) {
        ++run_.expectations;
        const Checked checked = check(c.expectation, driver_.snapshot());
        report(
            {{"line", c.line}, {"expect", c.text}, {"ok", checked.ok}, {"actual", checked.actual}});
        if (!checked.ok) {
            ++run_.failed;
            found("the expectation failed: the device shows " + checked.actual.dump(), line);
        }
    }

    void report_result() {
        if (run_.violation) {
            report({{"violation", run_.violation->what}, {"where", run_.violation->where}});
        }
        report({{"result", run_.violation ? "fail" : "pass"},
                {"expectations", run_.expectations},
                {"failed", run_.failed}});
    }

    const Invariants& invariants_;
    const RunHooks& hooks_;
    CheckedRun run_;
    std::size_t traced_ = 0;
    CheckingChooser checking_;
    Driver driver_;
};

}  // namespace

CheckedRun run_checked(const std::vector<Command>& commands, const DeviceFactory& make,
                       const Invariants& invariants, Chooser& chooser, const RunHooks& hooks) {
    CheckedScenario scenario(make, invariants, chooser, hooks);
    return scenario.run(commands);
}

namespace {

// A choice the run made: the option taken of how many, and what it was.
struct Taken {
    ChoicePoint point;
    std::size_t option = 0;
};

// Takes the choices of a prefix, then the defaults, and keeps them all.
class PathChooser final : public Chooser {
  public:
    explicit PathChooser(const std::vector<std::size_t>& prefix) : prefix_(prefix) {}
    std::size_t choose(const ChoicePoint& point) override {
        const std::size_t i = path.size();
        const std::size_t option = i < prefix_.size() ? prefix_[i] : 0;
        path.push_back({point, option});
        return option;
    }
    std::vector<Taken> path;

  private:
    const std::vector<std::size_t>& prefix_;
};

Schedule schedule_of(const std::vector<std::size_t>& choices) {
    Schedule s;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (choices[i] != 0) {
            s.picks.emplace(i, choices[i]);
        }
    }
    return s;
}

// The options at a choice point that the search takes besides the one
// taken, split into free ones and preemptions; the reduction's leave-outs
// are counted.
struct Alternatives {
    std::vector<std::size_t> free;
    bool preemption = false;
};

Alternatives alternatives(const Taken& t, bool reduce, std::uint64_t& pruned) {
    Alternatives a;
    if (t.option != 0) {
        return a;  // set by the prefix: its alternatives were the parent's to take
    }
    switch (t.point.kind) {
        case ChoiceKind::Thread:
            for (std::size_t o = 1; o < t.point.options; ++o) {
                if (reduce && t.point.last_gave_way && o == t.point.options - 1) {
                    ++pruned;
                    continue;
                }
                a.free.push_back(o);
            }
            break;
        case ChoiceKind::GiveWay:
            if (reduce && t.point.call != nullptr && std::string_view(t.point.call) == "Sleep") {
                ++pruned;
            } else {
                a.preemption = true;
            }
            break;
        case ChoiceKind::Input:
            a.preemption = true;
            break;
    }
    return a;
}

}  // namespace

std::uint64_t ExploreReport::total() const {
    std::uint64_t n = 0;
    for (std::uint64_t k : schedules) {
        n += k;
    }
    return n;
}

ExploreReport explore(const std::vector<Command>& commands, const DeviceFactory& make,
                      const Invariants& invariants, const ExploreOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    ExploreReport report;
    std::vector<std::vector<std::size_t>> round = {{}};
    for (int k = 0; k <= options.preemptions && !round.empty() && !report.violation; ++k) {
        report.schedules.push_back(0);
        std::vector<std::vector<std::size_t>> next_round;
        std::vector<std::vector<std::size_t>> stack(round.rbegin(), round.rend());
        while (!stack.empty() && !report.violation) {
            if (report.total() >= options.max_schedules) {
                report.stopped = true;
                break;
            }
            const std::vector<std::size_t> prefix = std::move(stack.back());
            stack.pop_back();
            PathChooser path(prefix);
            if (options.on_fault) {
                set_fatal_handler([&](const std::string& what) {
                    std::vector<std::size_t> so_far;
                    for (const Taken& t : path.path) {
                        so_far.push_back(t.option);
                    }
                    options.on_fault(
                        Violation{schedule_of(so_far), k, what, "a program fault", {}});
                });
            }
            const CheckedRun run = run_checked(commands, make, invariants, path);
            set_fatal_handler(nullptr);
            ++report.schedules.back();
            std::vector<std::size_t> choices;
            for (const Taken& t : path.path) {
                choices.push_back(t.option);
            }
            if (run.violation) {
                report.violation = run.violation;
                report.violation->schedule = schedule_of(choices);
                report.violation->preemptions = k;
                break;
            }
            // Deepest first, so that the stack runs them in order.
            for (std::size_t i = prefix.size(); i < path.path.size(); ++i) {
                const Alternatives a = alternatives(path.path[i], options.reduce, report.pruned);
                std::vector<std::size_t> base(choices.begin(), choices.begin() + i);
                for (std::size_t o : a.free) {
                    auto child = base;
                    child.push_back(o);
                    stack.push_back(std::move(child));
                }
                if (a.preemption && k < options.preemptions) {
                    auto child = base;
                    child.push_back(1);
                    next_round.push_back(std::move(child));
                }
            }
        }
        round = std::move(next_round);
    }
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return report;
}

json to_json(const ExploreReport& report) {
    json by_k = json::array();
    for (std::uint64_t n : report.schedules) {
        by_k.push_back(n);
    }
    json out = {{"schedules", report.total()},
                {"by_preemptions", by_k},
                {"pruned", report.pruned},
                {"seconds", std::round(report.seconds * 100) / 100}};
    if (report.stopped) {
        out["stopped"] = "the schedule limit was reached";
    }
    if (report.violation) {
        const Violation& v = *report.violation;
        out["violation"] = {{"what", v.what},
                            {"where", v.where},
                            {"schedule", v.schedule.to_string()},
                            {"preemptions", v.preemptions}};
    }
    out["result"] = report.violation ? "violation" : "every schedule held";
    return out;
}

}  // namespace sim
