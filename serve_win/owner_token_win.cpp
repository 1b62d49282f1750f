#include "serve_win/owner_token_win.h"

#include <windows.h>

#include <aclapi.h>
#include <bcrypt.h>

#include <memory>
#include <vector>

#include "serve/token.h"
#include "win/system_function.h"
#include "win/wide_text.h"

namespace {

// A token file is a line; anything much longer is no token file.
constexpr DWORD kMostTokenFileBytes = 64 * 1024;

// CNG is looked up at run time from the system folder, as the console builds' checksums do.
SystemFunction<decltype(&BCryptGenRandom)> gen_random("bcrypt.dll", "BCryptGenRandom");

class SystemRandom : public serve::RandomSource {
public:
    bool Fill(unsigned char* bytes, std::size_t size) override {
        auto fill = gen_random.TryGet();
        return fill && BCRYPT_SUCCESS(fill(nullptr, bytes, static_cast<ULONG>(size),
                                           BCRYPT_USE_SYSTEM_PREFERRED_RNG));
    }
};

}  // namespace

serve::RandomSource& SystemRandomSource() {
    static SystemRandom random;
    return random;
}

namespace {

std::string Why(const std::wstring& path, const char* what) {
    return what + GbkFromWide(path) + " (Windows error " + std::to_string(GetLastError()) + ")";
}

// The whole file, or nothing with *problem set.
std::optional<std::string> ReadSmallFile(const std::wstring& path, std::string* problem) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *problem = Why(path, "cannot read the token file ");
        return std::nullopt;
    }
    std::string content(kMostTokenFileBytes + 1, '\0');
    DWORD got = 0;
    const BOOL read = ReadFile(file, content.data(), kMostTokenFileBytes + 1, &got, nullptr);
    CloseHandle(file);
    if (!read) {
        *problem = Why(path, "cannot read the token file ");
        return std::nullopt;
    }
    if (got > kMostTokenFileBytes) {
        *problem = "the token file " + GbkFromWide(path) + " is far too long for a token";
        return std::nullopt;
    }
    content.resize(got);
    return content;
}

std::optional<std::string> TokenOfFile(const std::wstring& path, std::string* problem) {
    std::optional<std::string> content = ReadSmallFile(path, problem);
    if (!content) return std::nullopt;
    serve::TokenFile read = serve::TokenFromFile(*content);
    if (!read.token) *problem = "the token in " + GbkFromWide(path) + ": " + read.problem;
    return read.token;
}

// The current user's SID, copied.
std::vector<unsigned char> UserSid() {
    HANDLE process_token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process_token)) return {};
    DWORD size = 0;
    GetTokenInformation(process_token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    std::vector<unsigned char> sid;
    if (size && GetTokenInformation(process_token, TokenUser, buffer.data(), size, &size)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        const DWORD length = GetLengthSid(user);
        sid.resize(length);
        CopySid(length, sid.data(), user);
    }
    CloseHandle(process_token);
    return sid;
}

// A file readable and writable by the current user alone: a protected DACL (nothing
// inherited from the folder) with one ACE, the user's.
class OwnerOnly {
public:
    bool Make() {
        sid_ = UserSid();
        if (sid_.empty()) return false;
        const DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + sid_.size();
        acl_.resize(acl_size);
        ACL* acl = reinterpret_cast<ACL*>(acl_.data());
        if (!InitializeAcl(acl, acl_size, ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid_.data()) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
            !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return false;
        attributes_.nLength = sizeof(attributes_);
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
        return true;
    }
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }
    // Set again on the open file, protected: a file system that took the attributes loosely
    // at creation holds the one ACE all the same.
    bool Apply(HANDLE file) {
        return SetSecurityInfo(file, SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, reinterpret_cast<ACL*>(acl_.data()),
                               nullptr) == ERROR_SUCCESS;
    }

private:
    std::vector<unsigned char> sid_;
    std::vector<unsigned char> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

// Writes a new token to a file of its own beside `path`, then gives it its name: a reader
// sees no file or a whole one. A token another start kept first wins.
std::optional<std::string> KeepNewToken(const std::wstring& path, std::string* problem) {
    SystemRandom random;
    std::optional<std::string> token = serve::NewToken(random);
    if (!token) {
        *problem = "the system's random generator failed: no token could be made";
        return std::nullopt;
    }
    const std::wstring folder = path.substr(0, path.rfind(L'\\'));
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        *problem = Why(folder, "cannot make the folder ");
        return std::nullopt;
    }
    OwnerOnly owner_only;
    if (!owner_only.Make()) {
        *problem = "cannot make the token file's owner-only access list (Windows error " +
                   std::to_string(GetLastError()) + ")";
        return std::nullopt;
    }
    const std::wstring temp = path + L".new-" + std::to_wstring(GetCurrentProcessId());
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE | WRITE_DAC, 0, owner_only.Attributes(),
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *problem = Why(temp, "cannot write the token file ");
        return std::nullopt;
    }
    if (!owner_only.Apply(file)) {
        *problem = Why(temp, "cannot make the token file readable by its owner alone ");
        CloseHandle(file);
        DeleteFileW(temp.c_str());
        return std::nullopt;
    }
    const std::string line = *token + "\r\n";
    DWORD wrote = 0;
    const bool written =
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr) &&
        wrote == line.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!written) {
        *problem = Why(temp, "cannot write the token file ");
        DeleteFileW(temp.c_str());
        return std::nullopt;
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temp.c_str());
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            return TokenOfFile(path, problem);
        SetLastError(error);
        *problem = Why(path, "cannot write the token file ");
        return std::nullopt;
    }
    return token;
}

}  // namespace

std::string KeptTokenPath() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return {};
    std::wstring path = folder;
    if (path.back() != L'\\') path += L'\\';
    return GbkFromWide(path + L"MEmuFarm\\token");
}

OwnerToken LoadOwnerToken(const std::optional<std::string>& token_file) {
    OwnerToken result;
    if (token_file) {
        result.token = TokenOfFile(WideFromGbk(*token_file), &result.problem);
        return result;
    }
    const std::string kept = KeptTokenPath();
    if (kept.empty()) {
        result.problem =
            "%LOCALAPPDATA% is not set, so the token has no place to be kept; name "
            "one with --token-file FILE";
        return result;
    }
    const std::wstring path = WideFromGbk(kept);
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        result.token = TokenOfFile(path, &result.problem);
    } else {
        result.token = KeepNewToken(path, &result.problem);
    }
    return result;
}
