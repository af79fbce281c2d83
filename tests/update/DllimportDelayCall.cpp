// A call into a delay-loaded DLL through a dllimport declaration, as wincrypt.h
// declares its functions by default. GNU ld's i386 back end then drops the
// function's thunk and leaves its delay slot 0; the x86-64 back end keeps it.
// Built only for the image check to read, never run.

#include <windows.h>

#include <wincrypt.h>

int main()
{
    BYTE bytes[4];
    DWORD size = sizeof bytes;
    return CryptStringToBinaryA("AAEC", 4, CRYPT_STRING_BASE64, bytes, &size, nullptr, nullptr) ? 0 : 1;
}
