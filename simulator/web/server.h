// The web page's HTTP server: the page's files, the device's view (as JSON
// and as a stream of server-sent events), the icons, and the input.
//
// It listens on 127.0.0.1 only. It refuses a request whose Host is not this
// address or localhost with this port (DNS rebinding), and input from
// another origin. Every bad request gets a 4xx with a JSON error and
// changes nothing.
#ifndef CORVANE_SIMULATOR_WEB_SERVER_H
#define CORVANE_SIMULATOR_WEB_SERVER_H

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include "simulator/device.h"
#include "simulator/web/runner.h"

namespace httplib {
class Server;
}

namespace sim::web {

class Server {
  public:
    static constexpr int kMaxEventStreams = 4;

    Server(Runner& runner, Module module);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds 127.0.0.1:port (0: any free port); returns the port, or -1.
    int bind(int port);
    // Serves until stop().
    void listen();
    void stop();

  private:
    void routes();
    bool host_allowed(const std::string& host) const;
    bool origin_allowed(const std::string& origin) const;
    std::optional<std::string> icon_png(std::uint16_t id, int size);

    Runner& runner_;
    const Module module_;
    std::unique_ptr<httplib::Server> http_;
    int port_ = -1;
    std::atomic<int> streams_{0};
    std::mutex icons_mu_;
    std::map<std::pair<std::uint16_t, int>, std::string> icons_;
};

}  // namespace sim::web

#endif
