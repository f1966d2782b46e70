// Inside the platform layer: the thread creations a test asked to fail.
#pragma once

namespace plat {

// True, and one fewer left, when ThreadFailNextCreations asked for more failures.
bool TakeInjectedThreadFailure();

}  // namespace plat
