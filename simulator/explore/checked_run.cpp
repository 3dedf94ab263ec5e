// One run of a scenario under a chooser, checked at every step, whenever
// the device is idle, at the program's end, and by the scenario's own
// expectations: what the explorer does with each schedule.
#include "simulator/explore/explore.h"
#include "simulator/script/input.h"

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
        if (c.kind == Command::Kind::Schedule || c.kind == Command::Kind::Processor) {
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

}  // namespace sim
