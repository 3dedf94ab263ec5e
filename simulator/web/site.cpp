#include "simulator/web/site.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "simulator/device/view.h"
#include "simulator/support/hex.h"
#include "simulator/web/assets.h"
#include "simulator/web/png.h"

namespace sim::web {

namespace {

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

}  // namespace

bool is_media_type(std::string_view content_type, std::string_view type) {
    return beast::iequals(trim(content_type.substr(0, content_type.find(';'))), type);
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

bool Site::host_allowed(std::string_view host) const {
    const std::string port = ":" + std::to_string(port_);
    return host == "127.0.0.1" + port || host == "localhost" + port;
}

bool Site::origin_allowed(std::string_view origin) const {
    return origin == "http://127.0.0.1:" + std::to_string(port_) ||
           origin == "http://localhost:" + std::to_string(port_);
}

std::optional<Response> Site::check_header(const Request& req, std::string_view path) const {
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

std::optional<std::string> Site::icon_png(std::uint16_t id, int size) {
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

Response Site::get(std::string_view path, std::string_view query) {
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
    if (path == "/api/program") {
        // The program's names, and the processor it runs on (fixed for the run).
        json program = view::names(runner_.names());
        const Processor& cpu = runner_.processor();
        program["processor"] = {
            {"name", cpu.name}, {"label", cpu.label}, {"main_id", hex(cpu.main_id)}};
        return answer(http::status::ok, program.dump(), "application/json");
    }
    if (path == "/api/state") {
        // The runner publishes its first view before the server starts.
        return answer(http::status::ok, *runner_.view().json, "application/json");
    }
    constexpr std::string_view kIcon = "/api/icon/";
    if (path.starts_with(kIcon)) {
        if (auto response = icon(path.substr(kIcon.size()), query)) {
            return std::move(*response);
        }
    }
    return json_error(http::status::not_found, "no such page or file");
}

std::optional<Response> Site::icon(std::string_view digits, std::string_view query) {
    unsigned id = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    const bool all_digits =
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits.empty() || digits.size() > 5 || !all_digits || ec != std::errc() ||
        end != digits.data() + digits.size()) {
        return std::nullopt;
    }
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

Response Site::act(const Request& req) {
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

}  // namespace sim::web
