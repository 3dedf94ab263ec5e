#include "simulator/web/event_stream.h"

#include <algorithm>

#include "simulator/web/peer_window.h"

namespace sim::web {

void EventStream::start() {
    // A small send buffer, so that a reader that stopped reading is
    // noticed after a few views rather than megabytes of them.
    boost::system::error_code ignored;
    stream_.socket().set_option(asio::socket_base::send_buffer_size(16 * 1024), ignored);
    watch();
    push();
}

void EventStream::push() {
    if (closed_ || !reader_keeps_up()) {
        return;
    }
    if (writing_) {
        return;
    }
    const Runner::View view = runner_.view();
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

void EventStream::watch() {
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
// Server::kStreamWriteDeadline. The peer's receive window shows it: a reader
// that keeps up keeps it open near its widest, and any read widens it;
// unread data narrows it.
bool EventStream::reader_keeps_up() {
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

void EventStream::close() {
    closed_ = true;
    boost::system::error_code ignored;
    stream_.socket().close(ignored);
}

}  // namespace sim::web
