// What each input does to the device. Each runs with the device locked and
// traces the input; it returns whether what it touches was there. The
// input table (input.cpp) names them.
#ifndef CORVANE_SIMULATOR_SCRIPT_INPUT_ACTIONS_H
#define CORVANE_SIMULATOR_SCRIPT_INPUT_ACTIONS_H

#include "simulator/device/device.h"
#include "simulator/script/input.h"

namespace sim::act {

bool press_ok(Device& d, const Input& in);
bool click(Device& d, const Input& in);
bool sip_up(Device& d, const Input& in);
bool close(Device& d, const Input& in);
bool tap(Device& d, const Input& in);
bool double_tap(Device& d, const Input& in);
bool touch(Device& d, const Input& in);
bool lift(Device& d, const Input& in);
bool double_tap_time(Device& d, const Input& in);
bool post(Device& d, const Input& in);
bool resume(Device& d, const Input& in);
bool foreign(Device& d, const Input& in);
bool turbo_off(Device& d, const Input& in);
bool map_fail(Device& d, const Input& in);
bool reserve_fail(Device& d, const Input& in);
bool thread_fail(Device& d, const Input& in);

}  // namespace sim::act

#endif
