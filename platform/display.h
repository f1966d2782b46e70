// Whether the desktop is at hand: the choice between the dialog and the headless daemon.
#pragma once

namespace plat {

// True when this session names a display the dialog can open: an X server (DISPLAY), a
// Wayland compositor (WAYLAND_DISPLAY), or a Qt platform chosen outright
// (QT_QPA_PLATFORM, for example "offscreen"). Empty values count as unset.
bool HasDisplay();

}  // namespace plat
