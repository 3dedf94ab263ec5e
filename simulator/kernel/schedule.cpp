#include "simulator/kernel/schedule.h"

#include "simulator/support/text.h"

namespace sim {

std::string Schedule::to_string() const {
    std::string out;
    for (const auto& [point, option] : picks) {
        if (!out.empty()) {
            out += ',';
        }
        out += std::to_string(point) + ':' + std::to_string(option);
    }
    return out;
}

Result<Schedule> parse_schedule(std::string_view text) {
    Schedule schedule;
    std::size_t at = 0;
    while (at < text.size() || (at == text.size() && !text.empty() && text.back() == ',')) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view pick = text.substr(at, comma - at);
        const std::size_t colon = pick.find(':');
        const auto point = parse_integer(pick.substr(0, colon), 100000000);
        const auto option = colon == std::string_view::npos
                                ? std::nullopt
                                : parse_integer(pick.substr(colon + 1), 64);
        if (!point || !option || *option == 0 || schedule.picks.count(*point) != 0 ||
            (!schedule.picks.empty() &&
             static_cast<std::size_t>(*point) <= schedule.picks.rbegin()->first)) {
            return Error{
                "a schedule is \"<point>:<option>\" pairs in rising order of point, "
                "each option above 0, joined by commas (e.g. \"14:1,37:2\"); not '" +
                std::string(pick) + "'"};
        }
        schedule.picks.emplace(static_cast<std::size_t>(*point), static_cast<std::size_t>(*option));
        at = comma + 1;
    }
    return schedule;
}

std::size_t ReplayChooser::choose(const ChoicePoint& point) {
    const std::size_t index = next_point_++;
    const auto it = schedule_.picks.find(index);
    if (it == schedule_.picks.end()) {
        return 0;
    }
    if (it->second >= point.options) {
        if (misfit_.empty()) {
            misfit_ = "choice point " + std::to_string(index) + " has " +
                      std::to_string(point.options) + " options, not " +
                      std::to_string(it->second + 1);
        }
        return 0;
    }
    return it->second;
}

std::string ReplayChooser::misfit() const {
    if (!misfit_.empty()) {
        return misfit_;
    }
    if (!schedule_.picks.empty() && schedule_.picks.rbegin()->first >= next_point_) {
        return "the run has " + std::to_string(next_point_) +
               " choice points; the schedule names " +
               std::to_string(schedule_.picks.rbegin()->first);
    }
    return {};
}

}  // namespace sim
