#include "install/console_build_store_win.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdint>

#include "win/error_text.h"
#include "win/program_folder.h"
#include "win/system_function.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

// CNG is looked up at run time from the system folder: bcrypt.dll is not one of the libraries
// Windows always maps from there, and a static import would be searched for beside the program.
SystemFunction<decltype(&BCryptOpenAlgorithmProvider)> open_algorithm(
    "bcrypt.dll", "BCryptOpenAlgorithmProvider");
SystemFunction<decltype(&BCryptCloseAlgorithmProvider)> close_algorithm(
    "bcrypt.dll", "BCryptCloseAlgorithmProvider");
SystemFunction<decltype(&BCryptCreateHash)> create_hash("bcrypt.dll", "BCryptCreateHash");
SystemFunction<decltype(&BCryptHashData)> hash_data("bcrypt.dll", "BCryptHashData");
SystemFunction<decltype(&BCryptFinishHash)> finish_hash("bcrypt.dll", "BCryptFinishHash");
SystemFunction<decltype(&BCryptDestroyHash)> destroy_hash("bcrypt.dll", "BCryptDestroyHash");

struct AlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { close_algorithm.TryGet()(h, 0); }
};
struct HashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { destroy_hash.TryGet()(h); }
};

bool HashingAvailable() {
    return open_algorithm.TryGet() && close_algorithm.TryGet() && create_hash.TryGet() &&
           hash_data.TryGet() && finish_hash.TryGet() && destroy_hash.TryGet();
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    if (!HashingAvailable()) return {};
    UniqueResource<AlgorithmTraits> algorithm;
    if (!BCRYPT_SUCCESS(
            open_algorithm.TryGet()(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return {};
    UniqueResource<HashTraits> hash;
    if (!BCRYPT_SUCCESS(
            create_hash.TryGet()(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)))
        return {};
    // Feed in slices: BCryptHashData takes a 32-bit length.
    PUCHAR data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    size_t left = bytes.size();
    while (left > 0) {
        ULONG part = static_cast<ULONG>(left > 0x10000000 ? 0x10000000 : left);
        if (!BCRYPT_SUCCESS(hash_data.TryGet()(hash.get(), data, part, 0))) return {};
        data += part;
        left -= part;
    }
    UCHAR digest[32];
    if (!BCRYPT_SUCCESS(finish_hash.TryGet()(hash.get(), digest, sizeof digest, 0))) return {};
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (UCHAR b : digest) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 15]);
    }
    return hex;
}

bool MatchesInfo(std::string_view bytes, const ConsoleBuildInfo& info) {
    return bytes.size() == info.size && Sha256Hex(bytes) == info.sha256_hex;
}

ConsoleBuild ResourceBuildStore::Find(const ConsoleBuildInfo& info) {
    HRSRC found = FindResourceW(nullptr, WideFromGbk(info.resource).c_str(),
                                MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return {};
    std::string_view bytes(static_cast<const char*>(data), SizeofResource(nullptr, found));
    if (!MatchesInfo(bytes, info)) return {};
    return {bytes};
}

ConsoleBuild MemoryBuildStore::Find(const ConsoleBuildInfo& info) {
    auto it = builds_.find(info.version);
    if (it == builds_.end() || !MatchesInfo(it->second, info)) return {};
    return {std::string_view(it->second)};
}

FolderReader::Result FolderFileReader::ReadAtMost(const std::string& name, uint64_t max_bytes,
                                                  std::string& bytes) {
    if (folder_.empty()) return Result::kAbsent;
    UniqueFileHandle file(CreateFileW((folder_ + WideFromGbk(name)).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Result::kAbsent
                                                                              : Result::kUnreadable;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) return Result::kUnreadable;
    const uint64_t wanted = std::min<uint64_t>(static_cast<uint64_t>(size.QuadPart), max_bytes);
    if (wanted > SIZE_MAX / 2) return Result::kUnreadable;
    bytes.assign(static_cast<size_t>(wanted), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t left = bytes.size() - done;
        const DWORD part = static_cast<DWORD>(left > (1u << 30) ? (1u << 30) : left);
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + done, part, &got, nullptr))
            return Result::kUnreadable;
        if (got == 0) break;  // the file became shorter while being read
        done += got;
    }
    bytes.resize(done);
    return Result::kRead;
}

ProgramBuildStore::ProgramBuildStore()
    : folder_(ProgramFolder()), store_(resources_, folder_, MatchesInfo) {}

std::optional<std::string> AtomicFileReplacer::Replace(const std::string& path,
                                                       std::string_view bytes) {
    const std::wstring target = WideFromGbk(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return path + " is a folder";
    // A read-only target is left alone, as a direct open for writing would leave it.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return path + " is read-only";
    const std::wstring temp = target + L".writing-" + std::to_wstring(GetCurrentProcessId());
    {
        UniqueFileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return "cannot write beside " + path + ": " + SystemErrorText(GetLastError());
        bool written = true;
        const char* data = bytes.data();
        size_t left = bytes.size();
        while (written && left > 0) {
            DWORD part = static_cast<DWORD>(left > (1u << 30) ? (1u << 30) : left);
            DWORD done = 0;
            written = WriteFile(file.get(), data, part, &done, nullptr) && done == part;
            data += done;
            left -= done;
        }
        written = written && FlushFileBuffers(file.get());
        if (!written) {
            const DWORD error = GetLastError();
            file.reset();
            DeleteFileW(temp.c_str());
            return "cannot write beside " + path + ": " + SystemErrorText(error);
        }
    }
    // Fails, leaving the old file, when the target is held open without delete sharing (the
    // running manager, a reader).
    if (!MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temp.c_str());
        return "cannot replace " + path + ": " + SystemErrorText(error);
    }
    return std::nullopt;
}
