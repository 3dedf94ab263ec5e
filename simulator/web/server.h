// The web page's HTTP server: the page's files, the device's view (as JSON
// and as a stream of server-sent events), the icons, and the input.
//
// It listens on 127.0.0.1 only. It refuses a request whose Host is not this
// address or localhost with this port (DNS rebinding), and any API request
// that a browser marks as coming from another site or origin. Every bad
// request gets a 4xx with a JSON error and changes nothing.
//
// One thread serves every connection (Asio), so slow, idle or hostile
// clients cannot take the threads the page needs: each request must arrive
// whole within kRequestDeadline, each answer must be taken within
// kWriteDeadline, and an event stream whose reader stops reading is closed
// after kStreamWriteDeadline, freeing its place. An input's headers are
// checked before any byte of its body is read, and the body is limited to
// kMaxActionBody bytes and never decoded.
#ifndef CORVANE_SIMULATOR_WEB_SERVER_H
#define CORVANE_SIMULATOR_WEB_SERVER_H

#include <chrono>
#include <cstddef>
#include <memory>

#include "simulator/device/device.h"
#include "simulator/support/result.h"
#include "simulator/web/runner.h"

namespace sim::web {

class Server {
  public:
    static constexpr int kMaxEventStreams = 4;
    // Trace downloads asked for or being sent at once (each holds a copy of
    // a trace of up to tens of megabytes).
    static constexpr int kMaxTraceDownloads = 4;
    static constexpr std::size_t kMaxActionBody = 4096;
    static constexpr std::size_t kMaxHeader = 8192;
    static constexpr std::chrono::seconds kRequestDeadline{5};
    static constexpr std::chrono::seconds kWriteDeadline{5};
    static constexpr std::chrono::seconds kStreamWriteDeadline{3};

    Server(Runner& runner, Module module);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on 127.0.0.1:port (0: any free port); the port, or why it
    // cannot (a port in use is never shared).
    Result<int> listen(int port);
    // From now on SIGINT and SIGTERM end run(); they may be blocked until
    // then.
    void stop_on_signals();
    // Serves on the calling thread until stop() or a stop signal.
    void run();
    // Ends run() at once; callable from any thread.
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim::web

#endif
