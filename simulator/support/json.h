// The JSON the simulator writes: objects keep their keys in the order they
// were added, so that every line reads the same way each time.
#ifndef CORVANE_SIMULATOR_SUPPORT_JSON_H
#define CORVANE_SIMULATOR_SUPPORT_JSON_H

#include <nlohmann/json.hpp>

namespace sim {

using json = nlohmann::ordered_json;

}  // namespace sim

#endif
