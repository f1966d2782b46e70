// The wall clock as a user reads it.
#pragma once

#include <cstdint>

namespace plat {

// The local time of day of a moment given in seconds since 1970: hour, minute, second.
// False when the system cannot convert it.
bool LocalTimeOfDay(int64_t llTime, int& nHour, int& nMinute, int& nSecond);

}  // namespace plat
