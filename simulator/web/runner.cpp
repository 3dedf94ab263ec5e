#include "simulator/web/runner.h"

#include <algorithm>
#include <cmath>

#include "simulator/device/view.h"

namespace sim::web {

namespace {
constexpr std::size_t kLogSize = 300;
constexpr std::size_t kClockPoints = 600;
// The view is republished at least this often, so device time moves on
// the page while nothing else happens.
constexpr auto kRepublish = std::chrono::milliseconds(250);
}  // namespace

Runner::Runner(DeviceOptions options, ProgramNames names, double speed)
    : options_(std::move(options)), names_(std::move(names)), wall_(speed) {}

Runner::~Runner() {
    stop();
}

void Runner::on_publish(std::function<void()> listener) {
    on_publish_ = std::move(listener);
}

void Runner::start() {
    thread_ = std::thread([this] { loop(); });
    std::unique_lock lock(mu_);
    view_cv_.wait(lock, [&] { return stop_ || view_.version > 0; });
}

void Runner::stop() {
    {
        std::lock_guard lock(mu_);
        stop_ = true;
    }
    input_cv_.notify_all();
    view_cv_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool Runner::stopping() const {
    std::lock_guard lock(mu_);
    return stop_;
}

void Runner::post(Input input) {
    {
        std::lock_guard lock(mu_);
        queue_.push_back(input);
    }
    input_cv_.notify_all();
}

Runner::View Runner::view() const {
    std::lock_guard lock(mu_);
    return view_;
}

std::uint64_t Runner::request_trace() {
    std::uint64_t ticket = 0;
    {
        std::lock_guard lock(mu_);
        ticket = ++trace_asked_;
    }
    input_cv_.notify_all();
    return ticket;
}

Runner::Trace Runner::trace() const {
    std::lock_guard lock(mu_);
    return trace_;
}

bool Runner::make_trace() {
    std::uint64_t ticket = 0;
    {
        std::lock_guard lock(mu_);
        if (trace_asked_ == trace_.ticket || std::chrono::steady_clock::now() < next_trace_) {
            return false;
        }
        ticket = trace_asked_;
    }
    auto text = std::make_shared<const std::string>(device_->locked([this](Device& d) {
        return chrome_->document(d.clocks().history())
            .dump(-1, ' ', false, json::error_handler_t::replace);
    }));
    std::lock_guard lock(mu_);
    trace_ = Trace{std::move(text), ticket};
    next_trace_ = std::chrono::steady_clock::now() + kTraceInterval;
    return true;
}

Millis Runner::virtual_now() const {
    return wall_.now();
}

void Runner::loop() {
    start_device();
    auto next_publish = std::chrono::steady_clock::now() + kPublishInterval;
    bool unpublished = false;  // the device changed since the last view
    while (auto inputs = wait_for_work(next_publish, unpublished)) {
        run_device(*inputs);
        // A trace made is announced at once: the server answers its requests
        // when a view is published.
        const bool traced = make_trace();
        const auto wall = std::chrono::steady_clock::now();
        if (traced || wall >= next_publish) {
            publish();
            next_publish = wall + kPublishInterval;
            unpublished = false;
        } else {
            unpublished = true;
        }
    }
    chrome_.reset();
    device_.reset();
}

void Runner::start_device() {
    device_ = std::make_unique<Driver>(std::move(options_));
    device_->trace().add_json_sink([this](const json& event) {
        // Called with the device locked: only note the event.
        std::lock_guard lock(log_mu_);
        if (log_.size() >= kLogSize) {
            log_.pop_front();
        }
        log_.push_back(event);
        ++log_seq_;
    });
    chrome_.emplace(*device_, kTraceEvents);
    wall_.restart();
    device_->start();
    publish();
}

std::optional<std::deque<Input>> Runner::wait_for_work(
    std::chrono::steady_clock::time_point next_publish, bool unpublished) {
    std::unique_lock lock(mu_);
    // Wake for the next deadline (or to move device time on the page), but
    // never before the next view may be published: deadlines that pass
    // meanwhile fire in order on waking, so at any speed the loop wakes at
    // most about 30 times a second unless input arrives.
    auto wake = std::chrono::steady_clock::now() + kRepublish;
    if (auto due = device_->next_deadline()) {
        wake = std::min(wake, wall_.when(*due));
    }
    wake = unpublished ? next_publish : std::max(wake, next_publish);
    const bool trace_asked = trace_asked_ != trace_.ticket;
    if (trace_asked) {
        wake = std::min(wake, std::max(next_trace_, std::chrono::steady_clock::now()));
    }
    input_cv_.wait_until(lock, wake, [&] {
        return stop_ || !queue_.empty() || (trace_asked_ != trace_.ticket && !trace_asked);
    });
    if (stop_) {
        return std::nullopt;
    }
    std::deque<Input> inputs;
    inputs.swap(queue_);
    return inputs;
}

void Runner::run_device(const std::deque<Input>& inputs) {
    // Time first (every deadline up to now fires in order), then the input
    // that arrived meanwhile.
    const Millis now = virtual_now();
    if (now > device_->now()) {
        device_->advance_to(now);
    }
    for (const Input& input : inputs) {
        apply(*device_, input);
    }
}

void Runner::publish() {
    // Every program thread is blocked now, so the snapshot (which reads the
    // program's state record) sees a quiet program.
    json view;
    view["speed"] = wall_.speed();
    view["device"] = view::snapshot(device_->snapshot());
    view["clock"] = device_->locked([](Device& d) {
        json points = json::array();
        const auto& history = d.clocks().history();
        const std::size_t first = history.size() > kClockPoints ? history.size() - kClockPoints : 0;
        for (std::size_t i = first; i < history.size(); ++i) {
            points.push_back(view::clock_point(history[i]));
        }
        return points;
    });
    {
        std::lock_guard lock(log_mu_);
        view["log"] = json(std::vector<json>(log_.begin(), log_.end()));
        view["log_seq"] = log_seq_;
    }
    auto text = std::make_shared<const std::string>(
        view.dump(-1, ' ', false, json::error_handler_t::replace));
    {
        std::lock_guard lock(mu_);
        view_.json = std::move(text);
        ++view_.version;
    }
    view_cv_.notify_all();
    if (on_publish_) {
        on_publish_();
    }
}

}  // namespace sim::web
