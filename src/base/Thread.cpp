#include "base/Thread.h"

#include <system_error>
#include <thread>

namespace Orvane {

bool StartDetachedThread(std::function<void()> work)
{
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace Orvane
