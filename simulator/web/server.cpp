#include "simulator/web/server.h"

#include <sys/resource.h>

#include <algorithm>

#include "simulator/web/http.h"

namespace sim::web {

namespace {

// Room for many connections at once, within the process's file limit:
// raises the limit towards 4096 open files where the hard limit allows,
// and returns how many connections to take, leaving files for the rest of
// the process; nothing when the limit cannot be read.
std::optional<std::size_t> make_room_for_connections() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) {
        return std::nullopt;
    }
    if (files.rlim_cur < files.rlim_max && files.rlim_cur < 4096) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
        setrlimit(RLIMIT_NOFILE, &files);
        getrlimit(RLIMIT_NOFILE, &files);
    }
    return std::clamp<std::size_t>(files.rlim_cur > 128 ? files.rlim_cur - 128 : 16, 16, 2048);
}

}  // namespace

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
    if (auto room = make_room_for_connections()) {
        max_connections_ = *room;
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
