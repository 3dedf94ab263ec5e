// Helpers for tests that run Corvane, or a piece of it, on the device.
#ifndef CORVANE_TESTS_SUPPORT_TEST_DEVICE_H
#define CORVANE_TESTS_SUPPORT_TEST_DEVICE_H

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "simulator/corvane_image.h"
#include "simulator/device.h"

namespace corvane_test {

using sim::json;

// A device running Corvane, recording every event it traces.
class CorvaneDevice {
  public:
    explicit CorvaneDevice(sim::Kernel::Options kernel = {})
        : CorvaneDevice(sim::corvane_device_options(kernel)) {}

    explicit CorvaneDevice(sim::DeviceOptions options)
        : device_(std::make_unique<sim::Device>(std::move(options))) {
        device_->trace().add_sink([this](const json& e) { events_.push_back(e); });
    }

    // The device goes first: shutting it down still traces the process's end.
    ~CorvaneDevice() { device_.reset(); }
    CorvaneDevice(const CorvaneDevice&) = delete;
    CorvaneDevice& operator=(const CorvaneDevice&) = delete;

    sim::Device& operator*() { return *device_; }
    sim::Device* operator->() { return device_.get(); }

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

    json snapshot() { return device_->snapshot(); }
    json app() { return device_->snapshot()["program"]["state_record"]; }
    json hardware() { return device_->snapshot()["hardware"]; }
    json screen() { return device_->snapshot()["screen"]; }

    std::vector<sim::ClockEvent> clock_history() {
        return device_->inspect([](sim::Device& d) {
            return std::vector<sim::ClockEvent>(d.clocks().history().begin(),
                                                d.clocks().history().end());
        });
    }

  private:
    std::unique_ptr<sim::Device> device_;
    std::vector<json> events_;
};

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
