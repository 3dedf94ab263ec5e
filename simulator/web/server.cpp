#include "simulator/web/server.h"

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "simulator/web/event_stream.h"
#include "simulator/web/site.h"

namespace sim::web {

namespace {

// After an answer, what the client still sends (a refused body) is read and
// dropped for at most this long, so that closing does not reset the
// connection before the client has read the answer.
constexpr auto kLingerTime = std::chrono::seconds(1);
constexpr std::size_t kLingerBytes = 64 * 1024;

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
    Connection(Http& http, tcp::socket socket)
        : http_(http), shared_(http.shared_ptr()), stream_(std::move(socket)) {
        ++shared_->connections;
    }
    ~Connection() {
        --shared_->connections;
        if (trace_download_) {
            --shared_->trace_downloads;
        }
    }

    void start() {
        deadline_ = std::chrono::steady_clock::now() + Server::kRequestDeadline;
        parser_.header_limit(Server::kMaxHeader);
        // The body's size is checked after the header (see on_header); until
        // then no limit applies, as no byte of it is read.
        parser_.body_limit(std::numeric_limits<std::uint64_t>::max());
        stream_.expires_at(deadline_);
        http::async_read_header(stream_, buffer_, parser_,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                    self->on_header(ec);
                                });
    }

    // The device's trace, as a file to save.
    void send_trace(const std::string& document) {
        Response res = answer(http::status::ok, document, "application/json");
        res.set(http::field::content_disposition, "attachment; filename=\"corvane-trace.json\"");
        respond(std::move(res));
    }

  private:
    void on_header(beast::error_code ec) {
        if (ec == http::error::header_limit) {
            return respond(json_error(http::status::request_header_fields_too_large,
                                      "the request's header is too large"));
        }
        if (ec == beast::error::timeout || ec == asio::error::eof ||
            ec == http::error::end_of_stream || ec == asio::error::operation_aborted ||
            ec == asio::error::connection_reset) {
            return close();
        }
        if (ec) {
            return respond(json_error(http::status::bad_request, "malformed request"));
        }
        const Request& req = parser_.get();
        const std::string_view target = req.target();
        const std::string_view path = target.substr(0, target.find('?'));
        const std::string_view query =
            path.size() < target.size() ? target.substr(path.size() + 1) : std::string_view();
        if (auto refused = http_.site().check_header(req, path)) {
            return respond(std::move(*refused));
        }
        if (path == "/api/action") {
            return begin_action(req);
        }
        if (req.method() != http::verb::get) {
            return respond(json_error(http::status::method_not_allowed, "only GET is served here"));
        }
        if (path == "/api/trace") {
            if (shared_->trace_downloads >= static_cast<std::size_t>(Server::kMaxTraceDownloads)) {
                return respond(json_error(http::status::service_unavailable,
                                          "too many trace downloads at once"));
            }
            trace_download_ = true;
            ++shared_->trace_downloads;
            return http_.await_trace(shared_from_this());
        }
        if (path == "/api/events") {
            if (http_.shared().streams.size() >=
                static_cast<std::size_t>(Server::kMaxEventStreams)) {
                return respond(json_error(http::status::service_unavailable,
                                          "too many event streams are open"));
            }
            stream_.expires_never();
            std::make_shared<EventStream>(http_.runner(), http_.shared_ptr(), std::move(stream_))
                ->start();
            return;
        }
        respond(http_.site().get(path, query));
    }

    // An input: its header says what it is and how long before the body is
    // read; a body over the limit is refused unread.
    void begin_action(const Request& req) {
        if (req.method() != http::verb::post) {
            return respond(json_error(http::status::method_not_allowed, "input is sent with POST"));
        }
        if (req.count(http::field::content_encoding) > 0) {
            return respond(json_error(http::status::unsupported_media_type,
                                      "input must not be compressed or encoded"));
        }
        if (req.count(http::field::content_type) != 1 ||
            !is_media_type(req[http::field::content_type], "application/json")) {
            return respond(json_error(http::status::unsupported_media_type,
                                      "input must be sent as application/json"));
        }
        const auto length = parser_.content_length();
        if (length && *length > Server::kMaxActionBody) {
            return respond(json_error(
                http::status::payload_too_large,
                "input is limited to " + std::to_string(Server::kMaxActionBody) + " bytes"));
        }
        parser_.body_limit(Server::kMaxActionBody);
        if (beast::iequals(req[http::field::expect], "100-continue")) {
            continue_ = "HTTP/1.1 100 Continue\r\n\r\n";
            stream_.expires_at(deadline_);
            asio::async_write(stream_, asio::buffer(continue_),
                              [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                  if (ec) {
                                      return self->close();
                                  }
                                  self->read_body();
                              });
            return;
        }
        read_body();
    }

    void read_body() {
        stream_.expires_at(deadline_);
        http::async_read(stream_, buffer_, parser_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec == http::error::body_limit) {
                                 return self->respond(json_error(
                                     http::status::payload_too_large,
                                     "input is limited to " +
                                         std::to_string(Server::kMaxActionBody) + " bytes"));
                             }
                             if (ec) {
                                 return self->close();
                             }
                             self->respond(self->http_.site().act(self->parser_.get()));
                         });
    }

    void respond(Response res) {
        response_ = std::move(res);
        stream_.expires_after(Server::kWriteDeadline);
        http::async_write(stream_, response_,
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (ec) {
                                  return self->close();
                              }
                              boost::system::error_code ignored;
                              self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
                              self->stream_.expires_after(kLingerTime);
                              self->linger();
                          });
    }

    void linger() {
        stream_.async_read_some(asio::buffer(scratch_),
                                [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                    self->lingered_ += n;
                                    if (ec || self->lingered_ > kLingerBytes) {
                                        return self->close();
                                    }
                                    self->linger();
                                });
    }

    void close() {
        boost::system::error_code ignored;
        stream_.socket().close(ignored);
    }

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

Result<int> Http::listen(int port) {
    const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"),
                                 static_cast<unsigned short>(port));
    const std::string where = "127.0.0.1:" + std::to_string(port);
    boost::system::error_code ec;
    acceptor_.open(endpoint.protocol(), ec);
    // SO_REUSEADDR lets a restarted server take its port while connections
    // of the last one linger; on Linux it never lets two servers listen on
    // one port (SO_REUSEPORT would, and is not set).
    if (!ec) {
        acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    }
    if (!ec) {
        acceptor_.bind(endpoint, ec);
        if (ec == asio::error::address_in_use) {
            return Error{where + " is in use (is another corvane-sim running?)"};
        }
    }
    if (!ec) {
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        return Error{"cannot listen on " + where + ": " + ec.message()};
    }
    const int bound = acceptor_.local_endpoint().port();
    site_.set_port(bound);
    // Room for many connections at once, within the process's file limit.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        if (files.rlim_cur < files.rlim_max && files.rlim_cur < 4096) {
            files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
            setrlimit(RLIMIT_NOFILE, &files);
            getrlimit(RLIMIT_NOFILE, &files);
        }
        max_connections_ =
            std::clamp<std::size_t>(files.rlim_cur > 128 ? files.rlim_cur - 128 : 16, 16, 2048);
    }
    return bound;
}

void Http::stop_on_signals() {
    signals_.emplace(*io_, SIGINT, SIGTERM);
    signals_->async_wait([this](boost::system::error_code ec, int) {
        if (!ec) {
            io_->stop();
        }
    });
}

void Http::run() {
    accept();
    io_->run();
}

void Http::accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) {
            return;
        }
        if (ec) {
            // Out of file descriptors, say: try again shortly.
            accept_retry_.expires_after(std::chrono::milliseconds(50));
            accept_retry_.async_wait([this](boost::system::error_code wait_ec) {
                if (!wait_ec) {
                    accept();
                }
            });
            return;
        }
        if (shared_->connections < max_connections_) {
            std::make_shared<Connection>(*this, std::move(socket))->start();
        }
        accept();
    });
}

void Http::push_views() {
    const std::vector<EventStream*> streams(shared_->streams.begin(), shared_->streams.end());
    for (EventStream* stream : streams) {
        stream->push();
    }
    answer_traces();
}

void Http::await_trace(std::shared_ptr<Connection> connection) {
    trace_waiters_.emplace_back(runner_.request_trace(), std::move(connection));
}

void Http::answer_traces() {
    const Runner::Trace trace = runner_.trace();
    if (!trace.json) {
        return;
    }
    auto answered = std::stable_partition(trace_waiters_.begin(), trace_waiters_.end(),
                                          [&](const auto& w) { return w.first > trace.ticket; });
    for (auto it = answered; it != trace_waiters_.end(); ++it) {
        it->second->send_trace(*trace.json);
    }
    trace_waiters_.erase(answered, trace_waiters_.end());
}

}  // namespace

struct Server::Impl {
    Impl(Runner& runner, Module module) : http(runner, std::move(module)) {}
    Http http;
};

Server::Server(Runner& runner, Module module)
    : impl_(std::make_unique<Impl>(runner, std::move(module))) {}

Server::~Server() = default;

Result<int> Server::listen(int port) {
    return impl_->http.listen(port);
}

void Server::stop_on_signals() {
    impl_->http.stop_on_signals();
}

void Server::run() {
    impl_->http.run();
}

void Server::stop() {
    impl_->http.stop();
}

}  // namespace sim::web
