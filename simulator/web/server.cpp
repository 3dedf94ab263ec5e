// Beast's string_view is std::string_view (set before any Boost header).
#define BOOST_BEAST_USE_STD_STRING_VIEW

#include "simulator/web/server.h"

#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <charconv>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "simulator/web/assets.h"
#include "simulator/web/peer_window.h"
#include "simulator/web/png.h"

namespace sim::web {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// After an answer, what the client still sends (a refused body) is read and
// dropped for at most this long, so that closing does not reset the
// connection before the client has read the answer.
constexpr auto kLingerTime = std::chrono::seconds(1);
constexpr std::size_t kLingerBytes = 64 * 1024;

std::string as_string(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// The media type of a Content-Type value without its parameters; media
// types are case-insensitive.
bool is_media_type(std::string_view content_type, std::string_view type) {
    return beast::iequals(trim(content_type.substr(0, content_type.find(';'))), type);
}

// Every value of a header field (a browser sends each once; another client
// could send several).
std::vector<std::string_view> values(const Request& req, std::string_view name) {
    std::vector<std::string_view> all;
    for (auto [it, end] = req.equal_range(name); it != end; ++it) {
        all.push_back(it->value());
    }
    return all;
}

void common_headers(Response& res) {
    res.version(11);
    res.keep_alive(false);
    res.set(http::field::server, "corvane-sim");
    res.set("X-Content-Type-Options", "nosniff");
    res.set(http::field::cache_control, "no-store");
    // The page may not be framed (a click through an invisible frame would
    // press the device's buttons), and loads nothing from elsewhere.
    res.set("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    res.set("X-Frame-Options", "DENY");
}

Response answer(http::status status, std::string body, const char* type) {
    Response res;
    res.result(status);
    common_headers(res);
    res.set(http::field::content_type, type);
    res.body() = std::move(body);
    res.prepare_payload();
    return res;
}

Response json_error(http::status status, const std::string& message) {
    return answer(status, json{{"error", message}}.dump(), "application/json");
}

class EventStream;
class Connection;

// What connections share with the server and may outlive it (a connection's
// handlers can be destroyed after the server, with the I/O context).
struct Shared {
    std::size_t connections = 0;
    std::set<EventStream*> streams;
};

class Http {
  public:
    Http(Runner& runner, Module module) : runner_(runner), module_(std::move(module)) {
        // A new view is pushed to the event streams on the server's thread.
        runner_.on_publish([io = io_, this] { asio::post(*io, [this] { push_views(); }); });
    }

    std::variant<int, std::string> listen(int port);
    void stop_on_signals();
    void run();
    void stop() { io_->stop(); }

    asio::io_context& io() { return *io_; }
    Runner& runner() { return runner_; }
    Shared& shared() { return *shared_; }
    const std::shared_ptr<Shared>& shared_ptr() { return shared_; }

    // Why a request's header is refused, or nothing.
    std::optional<Response> check_header(const Request& req, std::string_view path) const;
    // The answer to a GET of a page file, the state or an icon.
    Response get(std::string_view path, std::string_view query);
    // The answer to an input whose body has been read.
    Response act(const Request& req);
    // Asks the runner for the device's trace; the connection is answered
    // when it is made (answer_traces, with the next view).
    void await_trace(std::shared_ptr<Connection> connection);

  private:
    void accept();
    void push_views();
    void answer_traces();
    bool host_allowed(std::string_view host) const;
    bool origin_allowed(std::string_view origin) const;
    std::optional<std::string> icon_png(std::uint16_t id, int size);

    Runner& runner_;
    const Module module_;
    std::map<std::pair<std::uint16_t, int>, std::string> icons_;
    std::vector<std::pair<std::uint64_t, std::shared_ptr<Connection>>> trace_waiters_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::shared_ptr<asio::io_context> io_ = std::make_shared<asio::io_context>(1);
    tcp::acceptor acceptor_{*io_};
    asio::steady_timer accept_retry_{*io_};
    std::optional<asio::signal_set> signals_;
    std::size_t max_connections_ = 1000;
    int port_ = -1;
};

// An open event stream: the response head, then the latest view as an event
// whenever a newer one is published, one write at a time (a slow reader
// skips views, and each view is the whole state). A reader that stops
// reading is noticed two ways: the kernel shows the data it was sent waiting
// unread for kStreamWriteDeadline, or a write does not finish within it;
// either closes the stream and frees its place.
class EventStream : public std::enable_shared_from_this<EventStream> {
  public:
    EventStream(Http& http, beast::tcp_stream stream)
        : http_(http), shared_(http.shared_ptr()), stream_(std::move(stream)) {
        shared_->streams.insert(this);
    }
    ~EventStream() { shared_->streams.erase(this); }

    void start() {
        // A small send buffer, so that a reader that stopped reading is
        // noticed after a few views rather than megabytes of them.
        boost::system::error_code ignored;
        stream_.socket().set_option(asio::socket_base::send_buffer_size(16 * 1024), ignored);
        watch();
        push();
    }

    // Sends the latest view unless a write is under way (it follows then).
    // Views are published at least four times a second, so this also checks
    // the reader that often.
    void push() {
        if (closed_ || !reader_keeps_up()) {
            return;
        }
        if (writing_) {
            return;
        }
        const Runner::View view = http_.runner().view();
        if (!view.json || view.version <= sent_) {
            return;
        }
        writing_ = true;
        sent_ = view.version;
        json_ = view.json;
        prefix_ = head_sent_ ? "" : kHead;
        head_sent_ = true;
        prefix_ += "event: view\ndata: ";
        const std::array<asio::const_buffer, 3> buffers{asio::buffer(prefix_), asio::buffer(*json_),
                                                        asio::buffer("\n\n", 2)};
        stream_.expires_after(Server::kStreamWriteDeadline);
        asio::async_write(stream_, buffers,
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              self->writing_ = false;
                              if (ec) {
                                  self->close();
                                  return;
                              }
                              self->stream_.expires_never();
                              self->push();
                          });
    }

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
    void watch() {
        stream_.socket().async_read_some(
            asio::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
                if (ec) {
                    self->close();
                    return;
                }
                self->watch();
            });
    }

    // False (and the stream closed) when the reader has not read for
    // kStreamWriteDeadline. The peer's receive window shows it: a reader
    // that keeps up keeps it open near its widest, and any read widens it;
    // unread data narrows it.
    bool reader_keeps_up() {
        const auto window = peer_window(stream_.socket().native_handle());
        if (!window) {
            return true;  // the write deadline alone applies
        }
        const auto now = std::chrono::steady_clock::now();
        const std::uint64_t open = window->edge - window->acked;
        widest_ = std::max(widest_, open);
        if (open > last_open_ || open + open / 8 >= widest_) {
            read_lately_ = now;
        }
        last_open_ = open;
        if (now - read_lately_ > Server::kStreamWriteDeadline) {
            close();
            return false;
        }
        return true;
    }

    void close() {
        closed_ = true;
        boost::system::error_code ignored;
        stream_.socket().close(ignored);
    }

    Http& http_;
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

// One request on one connection: its header is read and checked, then (for
// an input) its body, within kRequestDeadline of the connection opening;
// then the answer, and the connection closes.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(Http& http, tcp::socket socket)
        : http_(http), shared_(http.shared_ptr()), stream_(std::move(socket)) {
        ++shared_->connections;
    }
    ~Connection() { --shared_->connections; }

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
        if (auto refused = http_.check_header(req, path)) {
            return respond(std::move(*refused));
        }
        if (path == "/api/action") {
            return begin_action(req);
        }
        if (req.method() != http::verb::get) {
            return respond(json_error(http::status::method_not_allowed, "only GET is served here"));
        }
        if (path == "/api/trace") {
            return http_.await_trace(shared_from_this());
        }
        if (path == "/api/events") {
            if (http_.shared().streams.size() >=
                static_cast<std::size_t>(Server::kMaxEventStreams)) {
                return respond(json_error(http::status::service_unavailable,
                                          "too many event streams are open"));
            }
            stream_.expires_never();
            std::make_shared<EventStream>(http_, std::move(stream_))->start();
            return;
        }
        respond(http_.get(path, query));
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
                             self->respond(self->http_.act(self->parser_.get()));
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
};

std::variant<int, std::string> Http::listen(int port) {
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
            return where + " is in use (is another corvane-sim running?)";
        }
    }
    if (!ec) {
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        return "cannot listen on " + where + ": " + ec.message();
    }
    port_ = acceptor_.local_endpoint().port();
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
    return port_;
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

bool Http::host_allowed(std::string_view host) const {
    const std::string port = ":" + std::to_string(port_);
    return host == "127.0.0.1" + port || host == "localhost" + port;
}

bool Http::origin_allowed(std::string_view origin) const {
    return origin == "http://127.0.0.1:" + std::to_string(port_) ||
           origin == "http://localhost:" + std::to_string(port_);
}

std::optional<Response> Http::check_header(const Request& req, std::string_view path) const {
    // Every request: exactly one Host, naming this server (DNS rebinding).
    if (req.count(http::field::host) != 1) {
        return json_error(http::status::bad_request, "a request needs exactly one Host header");
    }
    if (!host_allowed(req[http::field::host])) {
        return json_error(
            http::status::misdirected_request,
            "this server answers only to 127.0.0.1 or localhost on port " + std::to_string(port_));
    }
    if (!path.starts_with("/api/")) {
        return std::nullopt;
    }
    // The API answers only this page: a browser names the site and origin a
    // request comes from (another site's frames, scripts and forms).
    const auto refuse = [] {
        return json_error(http::status::forbidden, "the API answers only this page's own origin");
    };
    for (const std::string_view site : values(req, "Sec-Fetch-Site")) {
        if (site != "same-origin" && site != "none") {
            return refuse();
        }
    }
    for (const std::string_view origin : values(req, "Origin")) {
        if (!origin_allowed(origin)) {
            return refuse();
        }
    }
    for (const std::string_view referer : values(req, "Referer")) {
        const std::size_t end = referer.find('/', std::string_view("http://").size());
        if (!origin_allowed(referer.substr(0, end))) {
            return refuse();
        }
    }
    return std::nullopt;
}

std::optional<std::string> Http::icon_png(std::uint16_t id, int size) {
    const auto key = std::make_pair(id, size);
    if (auto cached = icons_.find(key); cached != icons_.end()) {
        return cached->second;
    }
    auto image = find_icon_image(module_, id, size, size);
    if (!image.ok()) {
        return std::nullopt;
    }
    std::string png = encode_png(image.value());
    if (png.empty()) {
        return std::nullopt;
    }
    return icons_[key] = std::move(png);
}

Response Http::get(std::string_view path, std::string_view query) {
    struct File {
        std::string_view path;
        std::span<const std::uint8_t> (*content)();
        const char* type;
    };
    static const File kFiles[] = {{"/", index_html, "text/html; charset=utf-8"},
                                  {"/app.js", app_js, "text/javascript; charset=utf-8"},
                                  {"/style.css", style_css, "text/css; charset=utf-8"}};
    for (const File& file : kFiles) {
        if (path == file.path) {
            return answer(http::status::ok, as_string(file.content()), file.type);
        }
    }
    if (path == "/api/state") {
        // The runner publishes its first view before the server starts.
        return answer(http::status::ok, *runner_.view().json, "application/json");
    }
    constexpr std::string_view kIcon = "/api/icon/";
    if (path.starts_with(kIcon)) {
        const std::string_view digits = path.substr(kIcon.size());
        unsigned id = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
        const bool all_digits =
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits.empty() && digits.size() <= 5 && all_digits && ec == std::errc() &&
            end == digits.data() + digits.size()) {
            int size = 32;
            for (std::size_t at = 0; at <= query.size();) {
                const std::size_t amp = std::min(query.find('&', at), query.size());
                const std::string_view param = query.substr(at, amp - at);
                if (param.starts_with("size=")) {
                    const std::string_view value = param.substr(5);
                    if (value != "16" && value != "32") {
                        return json_error(http::status::bad_request, "size must be 16 or 32");
                    }
                    size = value == "16" ? 16 : 32;
                }
                at = amp + 1;
            }
            auto png = id <= 0xFFFF ? icon_png(static_cast<std::uint16_t>(id), size) : std::nullopt;
            if (!png) {
                return json_error(http::status::not_found, "no icon " + std::to_string(id));
            }
            return answer(http::status::ok, std::move(*png), "image/png");
        }
    }
    return json_error(http::status::not_found, "no such page or file");
}

Response Http::act(const Request& req) {
    auto parsed = parse_input_json(req.body());
    if (!parsed.ok()) {
        return json_error(http::status::bad_request, parsed.error().message);
    }
    if (runner_.stopping()) {
        return json_error(http::status::service_unavailable, "the device is shutting down");
    }
    runner_.post(parsed.value());
    return answer(http::status::accepted, R"({"queued":true})", "application/json");
}

}  // namespace

struct Server::Impl {
    Impl(Runner& runner, Module module) : http(runner, std::move(module)) {}
    Http http;
};

Server::Server(Runner& runner, Module module)
    : impl_(std::make_unique<Impl>(runner, std::move(module))) {}

Server::~Server() = default;

std::variant<int, std::string> Server::listen(int port) {
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
