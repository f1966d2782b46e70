#include "platform/display.h"

#include <cstdlib>
#include <initializer_list>

namespace plat {

bool HasDisplay()
{
    for (const char* pszVar : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* pszValue = getenv(pszVar);
        if (pszValue != nullptr && *pszValue != '\0')
            return true;
    }
    return false;
}

}  // namespace plat
