#pragma once

// Every handle kind the program owns: the owning template and the traits of
// each kind, in one place.
//
// Winsock 2 has to come before windows.h (windows.h without
// WIN32_LEAN_AND_MEAN pulls in the old winsock.h, which clashes with it).
// This header includes it first, so it can be included first or after a lean
// windows.h; the check below names the one order that cannot work.
#if defined(_WINSOCKAPI_) && !defined(_WINSOCK2API_)
#error "winsock.h was included before base/Handles.h: define WIN32_LEAN_AND_MEAN or include this header first"
#endif
#include <winsock2.h>
#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>
#include <winhttp.h>

namespace Orvane {

// Owns one handle of a Windows API and closes it on every path. Traits name
// the handle type and say what "no handle" is and how one is closed:
//
//   struct Traits {
//       using Handle = ...;
//       static Handle Invalid();
//       static bool IsValid(Handle handle);
//       static void Close(Handle handle);
//   };
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    Handle Get() const { return handle_; }
    bool Valid() const { return Traits::IsValid(handle_); }
    explicit operator bool() const { return Valid(); }

    // Gives up ownership without closing.
    Handle Release()
    {
        const Handle handle = handle_;
        handle_ = Traits::Invalid();
        return handle;
    }

    void Reset(Handle handle = Traits::Invalid())
    {
        if (Valid()) {
            Traits::Close(handle_);
        }
        handle_ = handle;
    }

private:
    Handle handle_ = Traits::Invalid();
};

// Traits for the many handle kinds whose "no handle" is null (or 0) and that
// one function releases, e.g. UniqueHandle<NullHandleTraits<HKEY, RegCloseKey>>.
template <typename T, auto CloseFunction>
struct NullHandleTraits {
    using Handle = T;
    static Handle Invalid() { return Handle{}; }
    static bool IsValid(Handle handle) { return handle != Handle{}; }
    static void Close(Handle handle) { CloseFunction(handle); }
};

// Kernel handles (files, processes, threads, mutexes). Both null and
// INVALID_HANDLE_VALUE mean "no handle", since APIs differ in which they return.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { CloseHandle(handle); }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

// Directory listings from FindFirstFileW.
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle handle) { return handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { FindClose(handle); }
};
using FindHandle = UniqueHandle<FindHandleTraits>;

// Memory the system allocated with LocalAlloc for the caller (for example
// CryptDecodeObjectEx with CRYPT_DECODE_ALLOC_FLAG and no decode parameters).
using LocalMemory = UniqueHandle<NullHandleTraits<void*, LocalFree>>;

// Memory the system allocated with GlobalAlloc for the caller (the strings
// WinHTTP's proxy queries return).
using GlobalMemory = UniqueHandle<NullHandleTraits<void*, GlobalFree>>;

// An open registry key. Predefined root keys (HKEY_LOCAL_MACHINE, ...) are
// never owned: only keys opened or created through this program.
using RegistryKey = UniqueHandle<NullHandleTraits<HKEY, RegCloseKey>>;

// A socket.
struct SocketTraits {
    using Handle = SOCKET;
    static Handle Invalid() { return INVALID_SOCKET; }
    static bool IsValid(Handle socket) { return socket != INVALID_SOCKET; }
    static void Close(Handle socket) { closesocket(socket); }
};
using SocketHandle = UniqueHandle<SocketTraits>;

// One WinHTTP handle: session, connection or request.
using WinHttpHandle = UniqueHandle<NullHandleTraits<HINTERNET, WinHttpCloseHandle>>;

// Fonts, brushes, pens and bitmaps created by the window.
using FontHandle = UniqueHandle<NullHandleTraits<HFONT, DeleteObject>>;
using BrushHandle = UniqueHandle<NullHandleTraits<HBRUSH, DeleteObject>>;
using PenHandle = UniqueHandle<NullHandleTraits<HPEN, DeleteObject>>;
using BitmapHandle = UniqueHandle<NullHandleTraits<HBITMAP, DeleteObject>>;

// Memory device contexts from CreateCompatibleDC.
using MemoryDc = UniqueHandle<NullHandleTraits<HDC, DeleteDC>>;

// One reference to a COM object.
template <typename T>
void ReleaseReference(T* object)
{
    object->Release();
}
template <typename T>
using ComReference = UniqueHandle<NullHandleTraits<T*, ReleaseReference<T>>>;

// CryptoAPI: a provider context and a hash object made from it.
inline void ReleaseCryptProvider(HCRYPTPROV provider)
{
    CryptReleaseContext(provider, 0);
}
using CryptProvider = UniqueHandle<NullHandleTraits<HCRYPTPROV, ReleaseCryptProvider>>;
using CryptHash = UniqueHandle<NullHandleTraits<HCRYPTHASH, CryptDestroyHash>>;

// CNG: an algorithm provider, a hash object and a key.
inline void CloseAlgorithmProvider(BCRYPT_ALG_HANDLE provider)
{
    BCryptCloseAlgorithmProvider(provider, 0);
}
using AlgorithmProvider = UniqueHandle<NullHandleTraits<BCRYPT_ALG_HANDLE, CloseAlgorithmProvider>>;
using HashObject = UniqueHandle<NullHandleTraits<BCRYPT_HASH_HANDLE, BCryptDestroyHash>>;
using KeyHandle = UniqueHandle<NullHandleTraits<BCRYPT_KEY_HANDLE, BCryptDestroyKey>>;

}  // namespace Orvane
