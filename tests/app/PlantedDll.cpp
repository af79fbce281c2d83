// A DLL that exists beside the test programs only, never in System32: a
// stand-in for one planted next to Orvane.exe.
#include <windows.h>

extern "C" __declspec(dllexport) int OrvanePlanted()
{
    return 42;
}
