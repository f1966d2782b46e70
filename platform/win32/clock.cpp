#include "platform/clock.h"

#include <ctime>

namespace plat {

bool LocalTimeOfDay(int64_t llTime, int& nHour, int& nMinute, int& nSecond)
{
    const __time64_t t = static_cast<__time64_t>(llTime);
    struct tm tmLocal;
    if (_localtime64_s(&tmLocal, &t) != 0)
        return false;
    nHour = tmLocal.tm_hour;
    nMinute = tmLocal.tm_min;
    nSecond = tmLocal.tm_sec;
    return true;
}

}  // namespace plat
