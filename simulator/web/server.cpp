#include "simulator/web/server.h"

#include <httplib.h>

#include <charconv>
#include <utility>

#include "simulator/web/assets.h"
#include "simulator/web/png.h"

namespace sim::web {

namespace {

void json_error(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    res.set_content(json{{"error", message}}.dump(), "application/json");
}

std::string as_string(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

Server::Server(Runner& runner, Module module)
    : runner_(runner), module_(std::move(module)), http_(std::make_unique<httplib::Server>()) {
    // Room for the event streams and as many plain requests at once.
    http_->new_task_queue = [] { return new httplib::ThreadPool(2 * kMaxEventStreams + 4); };
    // One request a connection, and a client that connects and says nothing
    // is dropped after a second: stopping waits for every worker, and an idle
    // keep-alive connection would hold one for seconds.
    http_->set_keep_alive_max_count(1);
    http_->set_keep_alive_timeout(1);
    http_->set_read_timeout(1, 0);
    routes();
}

Server::~Server() = default;

int Server::bind(int port) {
    if (port == 0) {
        port_ = http_->bind_to_any_port("127.0.0.1");
    } else {
        port_ = http_->bind_to_port("127.0.0.1", port) ? port : -1;
    }
    return port_;
}

void Server::listen() {
    http_->listen_after_bind();
}

void Server::stop() {
    http_->stop();
}

bool Server::host_allowed(const std::string& host) const {
    const std::string port = ":" + std::to_string(port_);
    return host == "127.0.0.1" + port || host == "localhost" + port;
}

bool Server::origin_allowed(const std::string& origin) const {
    return origin == "http://127.0.0.1:" + std::to_string(port_) ||
           origin == "http://localhost:" + std::to_string(port_);
}

std::optional<std::string> Server::icon_png(std::uint16_t id, int size) {
    std::lock_guard lock(icons_mu_);
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

void Server::routes() {
    auto& http = *http_;

    // Every request: the Host must name this server (DNS rebinding).
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (!host_allowed(req.get_header_value("Host"))) {
            json_error(res, 421,
                       "this server answers only to 127.0.0.1 or localhost on port " +
                           std::to_string(port_));
            return httplib::Server::HandlerResponse::Handled;
        }
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Cache-Control", "no-store");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            json_error(res, res.status,
                       res.status == 404
                           ? "no such page or file"
                           : "request refused (HTTP " + std::to_string(res.status) + ")");
        }
    });

    struct File {
        const char* path;
        std::span<const std::uint8_t> (*content)();
        const char* type;
    };
    const File files[] = {{"/", index_html, "text/html; charset=utf-8"},
                          {"/app.js", app_js, "text/javascript; charset=utf-8"},
                          {"/style.css", style_css, "text/css; charset=utf-8"}};
    for (const File& file : files) {
        http.Get(file.path, [file](const httplib::Request&, httplib::Response& res) {
            res.set_content(as_string(file.content()), file.type);
        });
    }

    http.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        const auto view = runner_.view();
        res.set_content(view.json ? *view.json : "{}", "application/json");
    });

    // The view as it changes, as server-sent events; a comment line now and
    // then notices a closed browser.
    http.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
        if (++streams_ > kMaxEventStreams) {
            --streams_;
            json_error(res, 503, "too many event streams are open");
            return;
        }
        auto seen = std::make_shared<std::uint64_t>(0);
        res.set_header("X-Accel-Buffering", "no");
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, seen](std::size_t, httplib::DataSink& sink) {
                if (runner_.stopping()) {
                    sink.done();
                    return true;
                }
                const auto view = runner_.wait_for_view(*seen, std::chrono::milliseconds(250));
                std::string message;
                if (view.json && view.version > *seen) {
                    *seen = view.version;
                    message = "event: view\ndata: " + *view.json + "\n\n";
                } else {
                    message = ": still here\n\n";
                }
                return sink.write(message.data(), message.size());
            },
            [this](bool) { --streams_; });
    });

    http.Get(R"(/api/icon/(\d{1,5}))", [this](const httplib::Request& req, httplib::Response& res) {
        const long id = std::stol(req.matches[1].str());
        int size = 32;
        if (req.has_param("size")) {
            const std::string s = req.get_param_value("size");
            if (s != "16" && s != "32") {
                json_error(res, 400, "size must be 16 or 32");
                return;
            }
            size = std::stoi(s);
        }
        auto png = id <= 0xFFFF ? icon_png(static_cast<std::uint16_t>(id), size) : std::nullopt;
        if (!png) {
            json_error(res, 404, "no icon " + std::to_string(id));
            return;
        }
        res.set_content(*png, "image/png");
    });

    http.Post("/api/action", [this](const httplib::Request& req, httplib::Response& res) {
        // Input only from this page: a browser sends its page's origin, and
        // a request from another origin cannot send JSON without asking.
        if (req.has_header("Origin") && !origin_allowed(req.get_header_value("Origin"))) {
            json_error(res, 403, "input is taken only from this page's origin");
            return;
        }
        const std::string type = req.get_header_value("Content-Type");
        if (type.rfind("application/json", 0) != 0) {
            json_error(res, 415, "input must be sent as application/json");
            return;
        }
        auto parsed = parse_input_json(req.body);
        if (!parsed.ok()) {
            json_error(res, 400, parsed.error().message);
            return;
        }
        if (runner_.stopping()) {
            json_error(res, 503, "the device is shutting down");
            return;
        }
        runner_.post(parsed.value());
        res.status = 202;
        res.set_content(R"({"queued":true})", "application/json");
    });
    http.Get("/api/action", [](const httplib::Request&, httplib::Response& res) {
        json_error(res, 405, "input is sent with POST");
    });
}

}  // namespace sim::web
