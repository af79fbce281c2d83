// Calls into orvane_planted.dll, its one delay-loaded DLL, which lies beside
// this program and not in System32, with Orvane's delay-load hook linked in.
// Returns 42 only if the DLL was found beside the program.
#include <windows.h>

#include "base/Logger.h"

extern "C" int OrvanePlanted();

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1) {
        Orvane::Logger::Instance().OpenFile(argv[1]);  // where the hook's last line goes
    }
    return OrvanePlanted();
}
