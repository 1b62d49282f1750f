// Starting a program that inherits exactly the handles meant for it: its three standard
// handles, named in the start's handle list (STARTUPINFOEXW with
// PROC_THREAD_ATTRIBUTE_HANDLE_LIST), and nothing else of ours. A caller's stream that we hold, or
// another worker's pipe end that happens to be inheritable at that moment, never reaches the child,
// so a child left running cannot keep them open.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "win/unique_resource.h"

// The NUL device, inheritable, for reading and writing: a standard handle that gives end of
// file at once and takes whatever is written to it.
UniqueFileHandle OpenInheritableNul();

// A process thread attribute list that names the only handles a child inherits. Owns the list
// and the handle array it points into (both live until the start has been made).
class InheritedHandleList {
public:
    // Repeated handles are named once (the system refuses a list that names one twice).
    explicit InheritedHandleList(std::vector<HANDLE> handles);
    InheritedHandleList(const InheritedHandleList&) = delete;
    InheritedHandleList& operator=(const InheritedHandleList&) = delete;
    ~InheritedHandleList();

    // Null when the list could not be built; error() then says why.
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }
    DWORD error() const { return error_; }

private:
    std::vector<HANDLE> handles_;
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    DWORD error_ = 0;
};

struct ListedHandlesStart {
    const wchar_t* application = nullptr;  // null: the system's search finds the line's first word
    std::wstring command_line;
    const wchar_t* folder = nullptr;  // null: ours
    DWORD flags = 0;                  // creation flags besides EXTENDED_STARTUPINFO_PRESENT
    // The child's standard handles, each inheritable; the child inherits these alone.
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE error = nullptr;
};

// Starts the program hidden. Returns its process and thread, or empty handles with the
// system's error in *error.
struct StartedChild {
    UniqueHandle process;
    UniqueHandle thread;
};
StartedChild StartWithListedHandles(const ListedHandlesStart& start, DWORD* error);
