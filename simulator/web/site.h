// What the web page's server answers, apart from how it reads and writes:
// which requests are refused and why, the page's files, the device's view,
// the icons, and the input (handed to the runner). See server.h for the
// rules; this file applies them to one request at a time.
#ifndef CORVANE_SIMULATOR_WEB_SITE_H
#define CORVANE_SIMULATOR_WEB_SITE_H

// Beast's string_view is std::string_view: set for the whole library in
// CMake (BOOST_BEAST_USE_STD_STRING_VIEW), the same in every file.
//
// <utility> first: Boost 1.74's asio/awaitable.hpp uses std::exchange
// without including it, which GCC 12's headers do not bring in otherwise.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "simulator/web/runner.h"

namespace sim::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// An answer with the headers every answer has.
Response answer(http::status status, std::string body, const char* type);
// A refusal: the status and {"error": message}.
Response json_error(http::status status, const std::string& message);
// The media type of a Content-Type value without its parameters; media
// types are case-insensitive.
bool is_media_type(std::string_view content_type, std::string_view type);

class Site {
  public:
    Site(Runner& runner, Module module) : runner_(runner), module_(std::move(module)) {}

    // The port the server listens on, which requests must name.
    void set_port(int port) { port_ = port; }

    // Why a request's header is refused, or nothing.
    std::optional<Response> check_header(const Request& req, std::string_view path) const;
    // The answer to a GET of a page file, the state or an icon.
    Response get(std::string_view path, std::string_view query);
    // The answer to an input whose body has been read.
    Response act(const Request& req);

  private:
    bool host_allowed(std::string_view host) const;
    bool origin_allowed(std::string_view origin) const;
    std::optional<std::string> icon_png(std::uint16_t id, int size);
    // /api/icon/<id>[?size=16|32]; nullopt when `digits` is no icon id.
    std::optional<Response> icon(std::string_view digits, std::string_view query);

    Runner& runner_;
    const Module module_;
    std::map<std::pair<std::uint16_t, int>, std::string> icons_;
    int port_ = -1;
};

}  // namespace sim::web

#endif
