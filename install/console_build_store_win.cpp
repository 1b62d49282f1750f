#include "install/console_build_store_win.h"

#include <windows.h>
#include <bcrypt.h>

#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

struct AlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { BCryptDestroyHash(h); }
};

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    UniqueResource<AlgorithmTraits> algorithm;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return {};
    UniqueResource<HashTraits> hash;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)))
        return {};
    // Feed in slices: BCryptHashData takes a 32-bit length.
    PUCHAR data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    size_t left = bytes.size();
    while (left > 0) {
        ULONG part = static_cast<ULONG>(left > 0x10000000 ? 0x10000000 : left);
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), data, part, 0))) return {};
        data += part;
        left -= part;
    }
    UCHAR digest[32];
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof digest, 0))) return {};
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

std::optional<std::string_view> ResourceBuildStore::Bytes(const ConsoleBuildInfo& info) {
    HRSRC found = FindResourceW(nullptr, WideFromGbk(info.resource).c_str(),
                                MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!found) return std::nullopt;
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return std::nullopt;
    std::string_view bytes(static_cast<const char*>(data), SizeofResource(nullptr, found));
    if (!MatchesInfo(bytes, info)) return std::nullopt;
    return bytes;
}

std::optional<std::string_view> MemoryBuildStore::Bytes(const ConsoleBuildInfo& info) {
    auto it = builds_.find(info.version);
    if (it == builds_.end() || !MatchesInfo(it->second, info)) return std::nullopt;
    return std::string_view(it->second);
}

bool AtomicFileReplacer::ReplaceWhole(const std::string& path, std::string_view bytes) {
    const std::wstring target = WideFromGbk(path);
    // A read-only target is left alone, as a direct open for writing would leave it.
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    const std::wstring temp = target + L".writing-" + std::to_wstring(GetCurrentProcessId());
    {
        UniqueFileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
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
            file.reset();
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    // Fails, leaving the old file, when the target is held open by the running manager or is
    // read-only.
    if (!MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}
