// Helpers for tests that run Corvane, or a piece of it, on the device.
#ifndef CORVANE_TESTS_SUPPORT_TEST_DEVICE_H
#define CORVANE_TESTS_SUPPORT_TEST_DEVICE_H

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "simulator/corvane/corvane_image.h"
#include "simulator/device/driver.h"
#include "simulator/script/input.h"

namespace corvane_test {

using sim::json;

// A device running Corvane, recording every event it traces.
class CorvaneDevice {
  public:
    explicit CorvaneDevice(sim::Kernel::Options kernel = {})
        : CorvaneDevice(sim::corvane_device_options(kernel)) {}

    explicit CorvaneDevice(sim::DeviceOptions options)
        : device_(std::make_unique<sim::Driver>(std::move(options))) {
        device_->trace().add_json_sink([this](const json& e) { events_.push_back(e); });
    }

    // The device goes first: shutting it down still traces the process's end.
    ~CorvaneDevice() { device_.reset(); }
    CorvaneDevice(const CorvaneDevice&) = delete;
    CorvaneDevice& operator=(const CorvaneDevice&) = delete;

    sim::Driver& operator*() { return *device_; }
    sim::Driver* operator->() { return device_.get(); }

    const std::vector<json>& events() const { return events_; }
    void clear_events() { events_.clear(); }

    // The platform calls of one name, in order.
    std::vector<json> calls(const std::string& name) const {
        std::vector<json> out;
        for (const auto& e : events_) {
            if (e.contains("call") && e["call"] == name) {
                out.push_back(e);
            }
        }
        return out;
    }
    std::vector<std::string> call_names() const {
        std::vector<std::string> out;
        for (const auto& e : events_) {
            if (e.contains("call")) {
                out.push_back(e["call"]);
            }
        }
        return out;
    }

    sim::Snapshot snapshot() { return device_->snapshot(); }
    // The program's state record, with its own field names.
    AppStateRecord app() { return sim::corvane_state(snapshot().program); }
    sim::HardwareView hardware() { return snapshot().hardware; }
    sim::ScreenView screen() { return snapshot().screen; }

    std::vector<sim::ClockEvent> clock_history() {
        return device_->locked([](sim::Device& d) {
            return std::vector<sim::ClockEvent>(d.clocks().history().begin(),
                                                d.clocks().history().end());
        });
    }

  private:
    std::unique_ptr<sim::Driver> device_;
    std::vector<json> events_;
};

// Applies an input written as a scenario line ("tap", "foreign 0x141",
// "click 1001"); false when what it touches is not on the device.
inline bool input(sim::Driver& driver, std::string_view line) {
    auto parsed = sim::parse_input_line(line, sim::corvane_names());
    if (!parsed.ok()) {
        sim::fatal("test input '" + std::string(line) + "': " + parsed.error().message);
    }
    return sim::apply(driver, parsed.value());
}

// Another program posts a message to the program's window.
inline bool post(sim::Driver& driver, UINT message, WPARAM wparam, LPARAM lparam) {
    return input(driver, "post " + std::to_string(message) + " " + std::to_string(wparam) + " " +
                             std::to_string(lparam));
}

// Device options for running `body` as the program's entry instead of
// WinMain: the program's code is called on the device's UI thread with a
// freshly loaded state record and the real resources.
inline sim::DeviceOptions run_as_program(std::function<void()> body,
                                         sim::Kernel::Options kernel = {}) {
    sim::DeviceOptions options = sim::corvane_device_options(kernel);
    options.program.entry = [body = std::move(body)](HINSTANCE) {
        body();
        return 0;
    };
    return options;
}

}  // namespace corvane_test

#endif
