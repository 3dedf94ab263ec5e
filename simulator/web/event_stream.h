// An event stream of the device's views (server-sent events): the response
// head, then the latest view as an event whenever a newer one is published.
#ifndef CORVANE_SIMULATOR_WEB_EVENT_STREAM_H
#define CORVANE_SIMULATOR_WEB_EVENT_STREAM_H

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "simulator/web/server.h"
#include "simulator/web/site.h"

namespace sim::web {

class EventStream;

// What connections share with the server and may outlive it (a connection's
// handlers can be destroyed after the server, with the I/O context).
struct Shared {
    std::size_t connections = 0;
    std::set<EventStream*> streams;
    std::size_t trace_downloads = 0;  // asked for or being sent
};

// An open event stream: the response head, then the latest view as an event
// whenever a newer one is published, one write at a time (a slow reader
// skips views, and each view is the whole state). A reader that stops
// reading is noticed two ways: the kernel shows the data it was sent waiting
// unread for kStreamWriteDeadline, or a write does not finish within it;
// either closes the stream and frees its place.
class EventStream : public std::enable_shared_from_this<EventStream> {
  public:
    EventStream(Runner& runner, std::shared_ptr<Shared> shared, beast::tcp_stream stream)
        : runner_(runner), shared_(std::move(shared)), stream_(std::move(stream)) {
        shared_->streams.insert(this);
    }
    ~EventStream() { shared_->streams.erase(this); }

    void start();
    // Sends the latest view unless a write is under way (it follows then).
    // Views are published at least four times a second, so this also checks
    // the reader that often.
    void push();

  private:
    static constexpr const char* kHead =
        "HTTP/1.1 200 OK\r\n"
        "Server: corvane-sim\r\n"
        "Content-Type: text/event-stream\r\n"
        "Cache-Control: no-store\r\n"
        "X-Content-Type-Options: nosniff\r\n"
        "X-Accel-Buffering: no\r\n"
        "Connection: close\r\n\r\n";

    // Reads (and drops) whatever the client sends, to notice at once when it
    // closes the stream.
    void watch();
    // False (and the stream closed) when the reader has not read for
    // Server::kStreamWriteDeadline.
    bool reader_keeps_up();
    void close();

    Runner& runner_;
    std::shared_ptr<Shared> shared_;
    beast::tcp_stream stream_;
    std::array<char, 512> scratch_{};
    std::uint64_t widest_ = 0;
    std::uint64_t last_open_ = 0;
    std::chrono::steady_clock::time_point read_lately_ = std::chrono::steady_clock::now();
    std::string prefix_;
    std::shared_ptr<const std::string> json_;
    std::uint64_t sent_ = 0;
    bool head_sent_ = false;
    bool writing_ = false;
    bool closed_ = false;
};

}  // namespace sim::web

#endif
