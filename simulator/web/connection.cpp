#include <limits>

#include "simulator/web/http.h"

namespace sim::web {

namespace {

// After an answer, what the client still sends (a refused body) is read and
// dropped for at most this long, so that closing does not reset the
// connection before the client has read the answer.
constexpr auto kLingerTime = std::chrono::seconds(1);
constexpr std::size_t kLingerBytes = 64 * 1024;

}  // namespace

Connection::Connection(Http& http, tcp::socket socket)
    : http_(http), shared_(http.shared_ptr()), stream_(std::move(socket)) {
    ++shared_->connections;
}

Connection::~Connection() {
    --shared_->connections;
    if (trace_download_) {
        --shared_->trace_downloads;
    }
}

void Connection::start() {
    deadline_ = std::chrono::steady_clock::now() + Server::kRequestDeadline;
    parser_.header_limit(Server::kMaxHeader);
    // The body's size is checked after the header (see on_header); until
    // then no limit applies, as no byte of it is read.
    parser_.body_limit(std::numeric_limits<std::uint64_t>::max());
    stream_.expires_at(deadline_);
    http::async_read_header(
        stream_, buffer_, parser_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->on_header(ec); });
}

void Connection::send_trace(const std::string& document) {
    Response res = answer(http::status::ok, document, "application/json");
    res.set(http::field::content_disposition, "attachment; filename=\"corvane-trace.json\"");
    respond(std::move(res));
}

void Connection::on_header(beast::error_code ec) {
    if (ec == http::error::header_limit) {
        return respond(json_error(http::status::request_header_fields_too_large,
                                  "the request's header is too large"));
    }
    if (ec == beast::error::timeout || ec == asio::error::eof || ec == http::error::end_of_stream ||
        ec == asio::error::operation_aborted || ec == asio::error::connection_reset) {
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
        return begin_trace_download();
    }
    if (path == "/api/events") {
        return begin_event_stream();
    }
    respond(http_.site().get(path, query));
}

void Connection::begin_action(const Request& req) {
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
        return respond(
            json_error(http::status::payload_too_large,
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

void Connection::read_body() {
    stream_.expires_at(deadline_);
    http::async_read(
        stream_, buffer_, parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec == http::error::body_limit) {
                return self->respond(json_error(
                    http::status::payload_too_large,
                    "input is limited to " + std::to_string(Server::kMaxActionBody) + " bytes"));
            }
            if (ec) {
                return self->close();
            }
            self->respond(self->http_.site().act(self->parser_.get()));
        });
}

void Connection::begin_trace_download() {
    if (shared_->trace_downloads >= static_cast<std::size_t>(Server::kMaxTraceDownloads)) {
        return respond(
            json_error(http::status::service_unavailable, "too many trace downloads at once"));
    }
    trace_download_ = true;
    ++shared_->trace_downloads;
    http_.await_trace(shared_from_this());
}

void Connection::begin_event_stream() {
    if (http_.shared().streams.size() >= static_cast<std::size_t>(Server::kMaxEventStreams)) {
        return respond(
            json_error(http::status::service_unavailable, "too many event streams are open"));
    }
    stream_.expires_never();
    std::make_shared<EventStream>(http_.runner(), http_.shared_ptr(), std::move(stream_))->start();
}

void Connection::respond(Response res) {
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

void Connection::linger() {
    stream_.async_read_some(asio::buffer(scratch_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                self->lingered_ += n;
                                if (ec || self->lingered_ > kLingerBytes) {
                                    return self->close();
                                }
                                self->linger();
                            });
}

void Connection::close() {
    boost::system::error_code ignored;
    stream_.socket().close(ignored);
}

}  // namespace sim::web
