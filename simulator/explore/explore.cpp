#include "simulator/explore/explore.h"

#include <chrono>
#include <cmath>

#include "simulator/kernel/path_chooser.h"
#include "simulator/script/input.h"

namespace sim {

namespace {

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

namespace {

// The search: rounds of schedules by their number of preemptions, each
// round depth first from the choices the round before left for it.
class Search {
  public:
    using Choices = std::vector<std::size_t>;

    Search(const std::vector<Command>& commands, const DeviceFactory& make,
           const Invariants& invariants, const ExploreOptions& options)
        : commands_(commands), make_(make), invariants_(invariants), options_(options) {}

    ExploreReport run() {
        std::vector<Choices> round = {{}};
        for (int k = 0; k <= options_.preemptions && !round.empty() && !report_.violation; ++k) {
            round = run_round(k, round);
        }
        return std::move(report_);
    }

  private:
    // Runs every schedule reachable from `starts` without another
    // preemption; returns the starts of the next round.
    std::vector<Choices> run_round(int k, const std::vector<Choices>& starts) {
        report_.schedules.push_back(0);
        std::vector<Choices> next_round;
        std::vector<Choices> stack(starts.rbegin(), starts.rend());
        while (!stack.empty() && !report_.violation) {
            if (report_.total() >= options_.max_schedules) {
                report_.stopped = true;
                break;
            }
            const Choices prefix = std::move(stack.back());
            stack.pop_back();
            PathChooser path(prefix);
            const CheckedRun run = run_one(k, path);
            ++report_.schedules.back();
            const Choices choices = choices_of(path);
            if (run.violation) {
                report_.violation = run.violation;
                report_.violation->schedule = schedule_of(choices);
                report_.violation->preemptions = k;
                break;
            }
            branch(k, prefix.size(), path, choices, stack, next_round);
        }
        return next_round;
    }

    // One schedule; a program fault on the way is told with the choices
    // made so far.
    CheckedRun run_one(int k, PathChooser& path) {
        if (options_.on_fault) {
            set_fatal_handler([&](const std::string& what) {
                options_.on_fault(
                    Violation{schedule_of(choices_of(path)), k, what, "a program fault", {}});
            });
        }
        CheckedRun run = run_checked(commands_, make_, invariants_, path);
        set_fatal_handler(nullptr);
        return run;
    }

    // The alternatives at each choice the run made past its prefix: free
    // ones onto the stack (deepest on top), preemptions for the next round.
    void branch(int k, std::size_t from, const PathChooser& path, const Choices& choices,
                std::vector<Choices>& stack, std::vector<Choices>& next_round) {
        for (std::size_t i = from; i < path.path.size(); ++i) {
            const Alternatives a = alternatives(path.path[i], options_.reduce, report_.pruned);
            const Choices base(choices.begin(), choices.begin() + static_cast<std::ptrdiff_t>(i));
            for (std::size_t o : a.free) {
                Choices child = base;
                child.push_back(o);
                stack.push_back(std::move(child));
            }
            if (a.preemption && k < options_.preemptions) {
                Choices child = base;
                child.push_back(1);
                next_round.push_back(std::move(child));
            }
        }
    }

    static Choices choices_of(const PathChooser& path) {
        Choices choices;
        for (const Taken& t : path.path) {
            choices.push_back(t.option);
        }
        return choices;
    }

    const std::vector<Command>& commands_;
    const DeviceFactory& make_;
    const Invariants& invariants_;
    const ExploreOptions& options_;
    ExploreReport report_;
};

}  // namespace

ExploreReport explore(const std::vector<Command>& commands, const DeviceFactory& make,
                      const Invariants& invariants, const ExploreOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    ExploreReport report = Search(commands, make, invariants, options).run();
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
