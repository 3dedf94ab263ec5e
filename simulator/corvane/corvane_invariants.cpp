#include "simulator/corvane/corvane_invariants.h"

#include <cmath>
#include <sstream>

#include "clock/speed_table.h"
#include "simulator/corvane/corvane_image.h"

namespace sim {

namespace {

double setting_mhz(LONG mode) {
    return CoreClockKhz(SPEED_SETTINGS[mode].cccrWord) / 1000.0;
}

bool runs_setting(const HardwareView& h, LONG mode) {
    return h.cccr == SPEED_SETTINGS[mode].cccrWord && std::fabs(h.mhz - setting_mhz(mode)) <= 0.01;
}

int tray_icon_resource(const ScreenView& screen) {
    return screen.tray.empty() || !screen.tray[0].icon ? -1 : *screen.tray[0].icon;
}

}  // namespace

std::string broken_at_every_step(const Snapshot& s) {
    const AppStateRecord app = corvane_state(s.program);
    const std::uint64_t posted = s.bubble_counts.accepted - s.bubble_counts.remove_calls;
    if (app.pendingNotifications < 0 ||
        static_cast<std::uint64_t>(app.pendingNotifications) > posted) {
        std::ostringstream why;
        why << "pending count " << app.pendingNotifications << " with " << posted
            << " bubbles posted and not removed";
        return why.str();
    }
    return {};
}

std::string broken_invariant(const Snapshot& s) {
    std::ostringstream why;
    const AppStateRecord app = corvane_state(s.program);
    const bool running = s.program.state == ProgramState::Running;
    const bool dialog_visible = s.screen.dialog_visible();
    const bool in_tray = running && !dialog_visible;
    const std::size_t icons = s.screen.tray.size();
    const std::size_t monitors = s.program.monitors();
    const std::uint64_t posted = s.bubble_counts.accepted - s.bubble_counts.remove_calls;
    if ((icons == 1) != in_tray || icons > 1) {
        why << "tray icons: " << icons << " while " << (running ? "running" : "ended")
            << " with the dialog " << (dialog_visible ? "visible" : "hidden");
    } else if (in_tray && (!IsSpeedMode(app.speedMode) ||
                           tray_icon_resource(s.screen) !=
                               static_cast<int>(SPEED_SETTINGS[app.speedMode].trayIconId))) {
        why << "tray icon " << tray_icon_resource(s.screen) << " does not show mode "
            << app.speedMode;
    } else if (in_tray && app.targetClockConfig != SPEED_SETTINGS[app.speedMode].cccrWord) {
        why << "target " << std::hex << app.targetClockConfig << " is not the word of mode "
            << std::dec << app.speedMode;
    } else if (monitors > 1) {
        why << monitors << " monitors";
    } else if (in_tray && monitors != 1) {
        why << "no monitor while in the tray";
    } else if (app.pendingNotifications < 0) {
        why << "pending count " << app.pendingNotifications;
    } else if (running && static_cast<std::uint64_t>(app.pendingNotifications) != posted) {
        why << "pending count " << app.pendingNotifications << " but " << s.bubble_counts.accepted
            << " posted and " << s.bubble_counts.remove_calls << " removed";
    } else if (s.memory.reservations != 0) {
        why << s.memory.reservations << " reservations outstanding";
    }
    return why.str();
}

std::string broken_after_end(const Snapshot& after, std::string_view input,
                             const Snapshot& before) {
    std::ostringstream why;
    const Reclaimed& freed = after.program.reclaimed;
    const bool mapping_worked =
        before.memory.failing_mappings == 0 && before.memory.failing_reservations == 0;
    if (after.program.monitors() != 0) {
        why << after.program.monitors() << " monitors after the program ended";
    } else if (freed.handles != 0 || freed.icons > 1) {
        // The program closes every handle and keeps only the bubble's icon;
        // a reservation may be left by a monitor ended mid-access.
        why << "the end of the process freed " << freed.handles << " handles and " << freed.icons
            << " icons";
    } else if (input == "quit" && mapping_worked && !runs_setting(after.hardware, SPEED_MODE_400)) {
        why << "after Quit the clock is " << std::hex << after.hardware.cccr << std::dec << " at "
            << after.hardware.mhz << " MHz";
    }
    return why.str();
}

Invariants corvane_invariants() {
    Invariants inv;
    inv.at_every_step = broken_at_every_step;
    inv.when_idle = broken_invariant;
    inv.at_end = [](const Snapshot& after, const std::string& input, const Snapshot& before) {
        return broken_after_end(after, input, before);
    };
    return inv;
}

std::string broken_after_period(const Snapshot& s) {
    const AppStateRecord app = corvane_state(s.program);
    if (!IsSpeedMode(app.speedMode) || runs_setting(s.hardware, app.speedMode)) {
        return {};
    }
    std::ostringstream why;
    why << "after a full period the clock is " << std::hex << s.hardware.cccr << std::dec << " at "
        << s.hardware.mhz << " MHz, mode " << app.speedMode;
    return why.str();
}

}  // namespace sim
