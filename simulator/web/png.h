// A minimal PNG encoder for the icon images the web page shows: 8-bit RGBA,
// no compression (the images are at most 32 x 32).
#ifndef CORVANE_SIMULATOR_WEB_PNG_H
#define CORVANE_SIMULATOR_WEB_PNG_H

#include <cstdint>
#include <string>

#include "simulator/wince/resources.h"

namespace sim::web {

std::string encode_png(const IconImage& image);

}  // namespace sim::web

#endif
