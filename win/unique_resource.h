// One move-only owner for every kind of handle. A traits type gives the close function and the
// empty value, so a file handle is empty at INVALID_HANDLE_VALUE while a process handle is
// empty only at null (-1 is the current-process pseudo-handle there).
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <utility>

template <typename Traits>
class UniqueResource {
    using T = typename Traits::Type;
    static T Empty() { return Traits::Empty(); }

public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Empty(); }

    void reset(T value = Empty()) {
        if (value_ != Empty()) Traits::Close(value_);
        value_ = value;
    }
    T release() { return std::exchange(value_, Empty()); }
    // Frees the old value, then hands out the address for an out-parameter.
    T* put() {
        reset();
        return &value_;
    }

private:
    T value_ = Empty();
};

template <typename H, auto CloseFn>
struct NullIsEmpty {
    using Type = H;
    static H Empty() { return nullptr; }
    static void Close(H h) { CloseFn(h); }
};
template <auto CloseFn>
struct InvalidIsEmpty {
    using Type = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseFn(h); }
};

// Process, thread, pipe, timer, event handles: empty at null.
using UniqueHandle = UniqueResource<NullIsEmpty<HANDLE, ::CloseHandle>>;
// CreateFile and CreateToolhelp32Snapshot results: empty at INVALID_HANDLE_VALUE.
using UniqueFileHandle = UniqueResource<InvalidIsEmpty<::CloseHandle>>;
using UniqueFindHandle = UniqueResource<InvalidIsEmpty<::FindClose>>;
using UniqueRegKey = UniqueResource<NullIsEmpty<HKEY, ::RegCloseKey>>;
using UniqueGdiObject = UniqueResource<NullIsEmpty<HGDIOBJ, ::DeleteObject>>;
using UniqueWindow = UniqueResource<NullIsEmpty<HWND, ::DestroyWindow>>;
using UniqueModule = UniqueResource<NullIsEmpty<HMODULE, ::FreeLibrary>>;

// Releases a COM interface at scope end.
template <typename I>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }
    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    I** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    I* p_ = nullptr;
};

// Runs a callable at scope end.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { f_(); }

private:
    F f_;
};
