// Inside the platform layer: the settings file the command line chose.
#pragma once

#include <string>

namespace plat {

// The file named by SetProfilePath; empty when none is (the per-user store).
std::string ChosenProfile();

}  // namespace plat
