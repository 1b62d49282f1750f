// System functions looked up by library and function name at their first use.
//
// Libraries are loaded by their full path in the system folder, never from the program's own
// folder or the current directory (the program runs elevated). The one exception is a library
// the manifest binds to a side-by-side assembly (the common controls, version 6): it is loaded
// by name, which the activation context resolves to the assembly store. A function that must exist
// ends the program through the fatal runtime error when it is missing; TryGet() lets a caller
// choose another way instead.
#pragma once

#include <windows.h>

#include "text/fatal_error.h"

// The position pair shown by the fatal error box for a missing system function.
inline constexpr fatal::Site kMissingSystemFunctionSite{601, 1};

// The module, already loaded or loaded from the system folder (or its assembly); null when it
// cannot be found. `library` is a file name, never a path.
// A module loaded here stays loaded for the rest of the process, so resolved addresses stay
// valid.
HMODULE SystemLibrary(const char* library);

// The function's address, or null when the library or the function is missing.
void* TryResolveSystemFunction(const char* library, const char* function);

// The function's address; raises the fatal runtime error when it is missing.
void* ResolveSystemFunction(const char* library, const char* function);

// One system function of type Fn (a function pointer type). Declare it once, as a static,
// where it is used; the first Get() or TryGet() resolves it and later calls reuse the result.
template <typename Fn>
class SystemFunction {
public:
    constexpr SystemFunction(const char* library, const char* function)
        : library_(library), function_(function) {}
    SystemFunction(const SystemFunction&) = delete;
    SystemFunction& operator=(const SystemFunction&) = delete;

    Fn Get() {
        Fn fn = TryGet();
        if (!fn) ResolveSystemFunction(library_, function_);  // raises
        return fn;
    }

    // Null when the function is missing; the look-up is not repeated.
    Fn TryGet() {
        if (!looked_up_) {
            address_ = TryResolveSystemFunction(library_, function_);
            looked_up_ = true;
        }
        return reinterpret_cast<Fn>(address_);
    }

private:
    const char* library_;
    const char* function_;
    void* address_ = nullptr;
    bool looked_up_ = false;
};
