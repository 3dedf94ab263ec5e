// The icon images the web page shows, as PNG files (8-bit RGBA), written by
// libpng.
#ifndef CORVANE_SIMULATOR_WEB_PNG_H
#define CORVANE_SIMULATOR_WEB_PNG_H

#include <string>

#include "simulator/pe/resources.h"

namespace sim::web {

// The image as a PNG file; empty if libpng could not write it.
std::string encode_png(const IconImage& image);

}  // namespace sim::web

#endif
