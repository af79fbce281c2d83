#include "app/SingleInstance.h"

namespace Orvane {

InstanceMutex ReadInstanceMutex(bool created, DWORD lastError)
{
    if (created ? lastError == ERROR_ALREADY_EXISTS : lastError == ERROR_ACCESS_DENIED) {
        return InstanceMutex::AnotherCopy;
    }
    return InstanceMutex::FirstCopy;
}

}  // namespace Orvane
