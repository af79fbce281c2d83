#pragma once

#include <functional>

namespace Orvane {

// Starts `work` on a new detached thread. False when the system cannot create
// one (the work is then not run).
bool StartDetachedThread(std::function<void()> work);

}  // namespace Orvane
