#pragma once

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

}  // namespace Orvane
