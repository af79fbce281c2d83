#pragma once

#include <windows.h>
#include <winhttp.h>

#include "app/UniqueHandle.h"

namespace Orvane {

// One WinHTTP handle: session, connection or request.
using WinHttpHandle = UniqueHandle<NullHandleTraits<HINTERNET, WinHttpCloseHandle>>;

}  // namespace Orvane
