#include "platform/clock.h"

#include <ctime>

namespace plat {

bool LocalTimeOfDay(int64_t llTime, int& nHour, int& nMinute, int& nSecond)
{
    const time_t t = static_cast<time_t>(llTime);
    struct tm tmLocal;
    if (localtime_r(&t, &tmLocal) == nullptr)
        return false;
    nHour = tmLocal.tm_hour;
    nMinute = tmLocal.tm_min;
    nSecond = tmLocal.tm_sec;
    return true;
}

}  // namespace plat
