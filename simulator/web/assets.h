// The web page's files, built into the program (tools/embed).
#ifndef CORVANE_SIMULATOR_WEB_ASSETS_H
#define CORVANE_SIMULATOR_WEB_ASSETS_H

#include <cstdint>
#include <span>

namespace sim::web {

std::span<const std::uint8_t> index_html();
std::span<const std::uint8_t> app_js();
std::span<const std::uint8_t> style_css();

}  // namespace sim::web

#endif
