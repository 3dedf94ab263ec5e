#include "simulator/web/peer_window.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

namespace sim::web {

std::optional<PeerWindow> peer_window(int fd) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) {
        return std::nullopt;
    }
    // Kernels before 6.2 fill the record only up to an older field.
    if (size < offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd) {
        return std::nullopt;
    }
    return PeerWindow{info.tcpi_bytes_acked, info.tcpi_bytes_acked + info.tcpi_snd_wnd};
}

}  // namespace sim::web
