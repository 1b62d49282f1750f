#include "process/listed_handles_start_win.h"

#include <algorithm>

UniqueFileHandle OpenInheritableNul() {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    return UniqueFileHandle(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                        OPEN_EXISTING, 0, nullptr));
}

InheritedHandleList::InheritedHandleList(std::vector<HANDLE> handles)
    : handles_(std::move(handles)) {
    std::erase(handles_, nullptr);
    std::sort(handles_.begin(), handles_.end());
    handles_.erase(std::unique(handles_.begin(), handles_.end()), handles_.end());

    // The first call only asks for the size (and fails with ERROR_INSUFFICIENT_BUFFER).
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        error_ = GetLastError();
        return;
    }
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                   handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
        error_ = GetLastError();
        DeleteProcThreadAttributeList(list);
        return;
    }
    list_ = list;
}

InheritedHandleList::~InheritedHandleList() {
    if (list_) DeleteProcThreadAttributeList(list_);
}

StartedChild StartWithListedHandles(const ListedHandlesStart& start, DWORD* error) {
    InheritedHandleList inherited({start.input, start.output, start.error});
    if (!inherited.get()) {
        *error = inherited.error();
        return {};
    }
    // CreateProcessW may write into the line.
    std::vector<wchar_t> line(start.command_line.begin(), start.command_line.end());
    line.push_back(L'\0');

    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = start.input;
    startup.StartupInfo.hStdOutput = start.output;
    startup.StartupInfo.hStdError = start.error;
    startup.lpAttributeList = inherited.get();

    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(start.application, line.data(), nullptr, nullptr, TRUE,
                        start.flags | EXTENDED_STARTUPINFO_PRESENT, nullptr, start.folder,
                        &startup.StartupInfo, &info)) {
        *error = GetLastError();
        return {};
    }
    return {UniqueHandle(info.hProcess), UniqueHandle(info.hThread)};
}
