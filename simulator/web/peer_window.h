// What the kernel knows of how far a TCP peer has read: it is apart from
// the server because the kernel's full tcp_info record (linux/tcp.h) and
// the C library's older one (netinet/tcp.h, which Asio includes) cannot be
// included together.
#ifndef CORVANE_SIMULATOR_WEB_PEER_WINDOW_H
#define CORVANE_SIMULATOR_WEB_PEER_WINDOW_H

#include <cstdint>
#include <optional>

namespace sim::web {

struct PeerWindow {
    std::uint64_t acked = 0;  // bytes the peer's kernel has received
    std::uint64_t edge = 0;   // acked plus the peer's advertised window
};

// The peer's receive window on a connected TCP socket, or nothing when the
// kernel does not say. The window narrows as data waits unread in the
// peer's buffer and widens again as its reader takes it out.
std::optional<PeerWindow> peer_window(int fd);

}  // namespace sim::web

#endif
