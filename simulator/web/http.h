// The web server's inside, behind Server (server.h): Http listens, accepts
// connections and pushes the device's views and traces to them
// (server.cpp); a Connection reads, checks and answers one request
// (connection.cpp).
#ifndef CORVANE_SIMULATOR_WEB_HTTP_H
#define CORVANE_SIMULATOR_WEB_HTTP_H

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "simulator/support/result.h"
#include "simulator/web/event_stream.h"
#include "simulator/web/site.h"

namespace sim::web {

class Connection;

class Http {
  public:
    Http(Runner& runner, Module module) : runner_(runner), site_(runner, std::move(module)) {
        // A new view is pushed to the event streams on the server's thread.
        runner_.on_publish([io = io_, this] { asio::post(*io, [this] { push_views(); }); });
    }

    Result<int> listen(int port);
    void stop_on_signals();
    void run();
    void stop() { io_->stop(); }

    asio::io_context& io() { return *io_; }
    Runner& runner() { return runner_; }
    Shared& shared() { return *shared_; }
    const std::shared_ptr<Shared>& shared_ptr() { return shared_; }

    Site& site() { return site_; }
    // Asks the runner for the device's trace; the connection is answered
    // when it is made (answer_traces, with the next view).
    void await_trace(std::shared_ptr<Connection> connection);

  private:
    void accept();
    void push_views();
    void answer_traces();

    Runner& runner_;
    Site site_;
    std::vector<std::pair<std::uint64_t, std::shared_ptr<Connection>>> trace_waiters_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::shared_ptr<asio::io_context> io_ = std::make_shared<asio::io_context>(1);
    tcp::acceptor acceptor_{*io_};
    asio::steady_timer accept_retry_{*io_};
    std::optional<asio::signal_set> signals_;
    std::size_t max_connections_ = 1000;
};

// One request on one connection: its header is read and checked, then (for
// an input) its body, within kRequestDeadline of the connection opening;
// then the answer, and the connection closes.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(Http& http, tcp::socket socket);
    ~Connection();

    void start();
    // The device's trace, as a file to save.
    void send_trace(const std::string& document);

  private:
    void on_header(beast::error_code ec);
    // An input: its header says what it is and how long before the body is
    // read; a body over the limit is refused unread.
    void begin_action(const Request& req);
    void read_body();
    // A download of the device's trace, answered once the runner has made
    // it; refused while kMaxTraceDownloads are under way.
    void begin_trace_download();
    // The connection handed over to an event stream; refused while
    // kMaxEventStreams are open.
    void begin_event_stream();
    void respond(Response res);
    // Reads and drops what the client still sends, then closes.
    void linger();
    void close();

    Http& http_;
    std::shared_ptr<Shared> shared_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_{2 * Server::kMaxHeader};
    http::request_parser<http::string_body> parser_;
    std::chrono::steady_clock::time_point deadline_;
    Response response_;
    std::string continue_;
    std::array<char, 4096> scratch_{};
    std::size_t lingered_ = 0;
    bool trace_download_ = false;  // counted in shared_->trace_downloads
};

}  // namespace sim::web

#endif
