#include "platform/display.h"

#include "platform/win32/win.h"

namespace plat {

bool HasDisplay()
{
    // A desktop the user sees: not the hidden window station of a service.
    HWINSTA hStation = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    DWORD dwNeeded = 0;
    if (hStation == nullptr || !GetUserObjectInformationW(hStation, UOI_FLAGS, &flags, sizeof(flags), &dwNeeded))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace plat
