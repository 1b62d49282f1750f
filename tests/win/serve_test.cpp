// MEmuFarm serve end to end against the simulated emulator: the server as a process on a free
// loopback port, asked over raw sockets as any client would, good requests and bad; what the
// tools received (their journal) shows what ran.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "control/command_line_args.h"
#include "process/process_list_win.h"
#include "support/farm_runner.h"
#include "support/http_client.h"
#include "support/sim_fixture.h"
#include "support/sim_install.h"
#include "support/test_adb_port.h"
#include "support/win_test_support.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

constexpr const char* kToken = "0123456789abcdef0123456789abcdef-serve-test-token";
constexpr DWORD kStartLimitMs = 30000;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A request as a client writes it: the server's own Host and the token unless told otherwise.
struct Ask {
    std::string method = "POST";
    std::string target = "/api/run";
    std::string body;
    std::string host;  // empty: 127.0.0.1:PORT
    std::string token = kToken;
    std::string content_type = "application/json";
    std::string extra;           // more header lines, each ending in \r\n
    std::string content_length;  // empty: the body's size
};

std::string Written(const Ask& ask, int port) {
    std::string text = ask.method + " " + ask.target + " HTTP/1.1\r\n";
    text += "Host: " + (ask.host.empty() ? "127.0.0.1:" + std::to_string(port) : ask.host) + "\r\n";
    if (!ask.token.empty()) text += "Authorization: Bearer " + ask.token + "\r\n";
    if (ask.method == "POST") {
        text += "Content-Type: " + ask.content_type + "\r\n";
        text +=
            "Content-Length: " +
            (ask.content_length.empty() ? std::to_string(ask.body.size()) : ask.content_length) +
            "\r\n";
    }
    text += ask.extra + "Connection: close\r\n\r\n" + ask.body;
    return text;
}

Ask RunBody(const std::string& argv_json) {
    Ask ask;
    ask.body = R"({"argv": )" + argv_json + "}";
    return ask;
}

nlohmann::json Json(const std::string& text) {
    return nlohmann::json::parse(text, nullptr, false);
}

// MEmuFarm serve as a process: standard output and error into files; up once it printed its
// address, ended with the test.
class ServerProcess {
public:
    ~ServerProcess() { End(); }

    // True once the address line is printed and the service's own first listing has ended
    // (so that what a test asks for is all the journal holds), within kStartLimitMs; false
    // when it ended first.
    // `own_console`: with a console of its own (hidden from no one, as when the owner starts
    // it), where a Ctrl+C can be sent to it alone; a process without a console gets no console
    // events.
    bool Start(const std::vector<std::string>& args, const std::string& folder,
               bool own_console = false) {
        out_path_ = folder + "serve-out.txt";
        err_path_ = folder + "serve-err.txt";
        std::string line = "MEmuFarm.exe serve";
        for (const std::string& arg : args) {
            line += ' ';
            line += cmdline::QuoteArgument(arg);
        }
        std::wstring wide = WideFromGbk(line);
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        UniqueFileHandle out(CreateFileW(WideFromGbk(out_path_).c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                         CREATE_ALWAYS, 0, nullptr));
        UniqueFileHandle err(CreateFileW(WideFromGbk(err_path_).c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                         CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        PROCESS_INFORMATION info = {};
        const std::wstring exe = WideFromGbk(BinDir() + "MEmuFarm.exe");
        const DWORD flags = own_console ? CREATE_NEW_CONSOLE : CREATE_NO_WINDOW;
        if (!CreateProcessW(exe.c_str(), wide.data(), nullptr, nullptr, TRUE, flags, nullptr,
                            nullptr, &startup, &info))
            return false;
        process_.reset(info.hProcess);
        pid_ = info.dwProcessId;
        CloseHandle(info.hThread);
        const ULONGLONG start = GetTickCount64();
        while (GetTickCount64() - start < kStartLimitMs) {
            if (Contains(Out(), "/?token=") && Contains(Err(), " page listing")) return true;
            if (WaitForSingleObject(process_.get(), 50) == WAIT_OBJECT_0) return false;
        }
        return false;
    }
    void End() {
        if (!process_) return;
        TerminateProcess(process_.get(), 0);
        WaitForSingleObject(process_.get(), 10000);
        process_.reset();
    }
    std::string Out() const { return ReadWhole(out_path_); }
    std::string Err() const { return ReadWhole(err_path_); }
    HANDLE Handle() const { return process_.get(); }
    DWORD Pid() const { return pid_; }

private:
    UniqueHandle process_;
    DWORD pid_ = 0;
    std::string out_path_, err_path_;
};

class ServeTest : public SimulatedFarmTest {
protected:
    ServeTest() : SimulatedFarmTest("serve", 3) {}

    void SetUp() override {
        SimulatedFarmTest::SetUp();
        token_file_ = root_ + "token.txt";
        std::string line = std::string(kToken) + "\r\n";
        ASSERT_TRUE(WriteWhole(token_file_, line));
        port_ = FreeLoopbackPort();
    }
    void TearDown() override {
        server_.End();
        SimulatedFarmTest::TearDown();
    }
    static bool WriteWhole(const std::string& path, const std::string& bytes) {
        UniqueFileHandle file(CreateFileW(WideFromGbk(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, 0, nullptr));
        DWORD wrote = 0;
        return file &&
               WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote,
                         nullptr) &&
               wrote == bytes.size();
    }
    bool StartServer(std::vector<std::string> more = {}, bool own_console = false) {
        std::vector<std::string> args = {"--listen", "127.0.0.1:" + std::to_string(port_),
                                         "--token-file", token_file_};
        args.insert(args.end(), more.begin(), more.end());
        return server_.Start(args, root_, own_console);
    }
    HttpAnswer Send(const Ask& ask) { return HttpExchange(port_, Written(ask, port_)); }

    Winsock winsock_;
    std::string token_file_;
    int port_ = 0;
    ServerProcess server_;
};

struct DoorRow {
    const char* name;
    Ask ask;
    int status;
};

std::vector<DoorRow> DoorRows() {
    std::vector<DoorRow> rows;
    Ask health;
    health.method = "GET";
    health.target = "/healthz";
    health.token.clear();
    rows.push_back({"healthz_without_token", health, 200});
    Ask no_token = RunBody(R"(["list"])");
    no_token.token.clear();
    rows.push_back({"no_token", no_token, 401});
    Ask wrong = RunBody(R"(["list"])");
    wrong.token = std::string(kToken) + "x";
    rows.push_back({"wrong_token", wrong, 401});
    Ask origin = RunBody(R"(["list"])");
    origin.extra = "Origin: http://evil.example\r\n";
    rows.push_back({"bad_origin", origin, 403});
    Ask host = RunBody(R"(["list"])");
    host.host = "evil.example";
    rows.push_back({"bad_host", host, 403});
    Ask get = RunBody("");
    get.method = "GET";
    rows.push_back({"get_on_run", get, 405});
    Ask text = RunBody(R"(["list"])");
    text.content_type = "text/plain";
    rows.push_back({"text_plain", text, 415});
    Ask big = RunBody(R"(["list"])");
    big.body.clear();
    big.content_length = std::to_string(2 * 1024 * 1024);
    rows.push_back({"two_mib_body", big, 413});
    rows.push_back({"malformed_json", RunBody(R"(["list")"), 400});
    Ask mcp;
    mcp.target = "/mcp";
    mcp.body = "{}";
    rows.push_back({"mcp_without_session", mcp, 400});
    Ask mcp_end;
    mcp_end.method = "DELETE";
    mcp_end.target = "/mcp";
    mcp_end.extra = "Mcp-Session-Id: 0123456789abcdef0123456789abcdef\r\n";
    rows.push_back({"mcp_end_unknown_session", mcp_end, 404});
    Ask mcp_stream;
    mcp_stream.method = "GET";
    mcp_stream.target = "/mcp";
    rows.push_back({"mcp_stream_not_served", mcp_stream, 405});
    Ask page;
    page.method = "GET";
    page.target = "/";
    // The token opens a session for the farm page: its cookie, and the address without it.
    rows.push_back({"page_by_token_opens_a_session", page, 303});
    Ask image;
    image.method = "GET";
    image.target = "/api/page/image";
    rows.push_back({"page_image_without_vm", image, 400});
    Ask nowhere = RunBody("[]");
    nowhere.target = "/nowhere";
    rows.push_back({"no_such_path", nowhere, 404});
    return rows;
}

TEST_F(ServeTest, EachDoorAnswersAsTheFrontDoorDecidesAndNoRefusalRunsAnything) {
    ASSERT_TRUE(StartServer()) << server_.Err();
    EXPECT_TRUE(
        Contains(server_.Out(), "http://127.0.0.1:" + std::to_string(port_) + "/?token=" + kToken))
        << server_.Out();
    ClearSimJournal(root_);
    for (const DoorRow& row : DoorRows()) {
        const HttpAnswer answer = Send(row.ask);
        EXPECT_EQ(answer.status, row.status) << row.name << "\n" << answer.head << answer.body;
        if (row.status == 405) {
            EXPECT_TRUE(Contains(answer.head, "Allow: POST")) << row.name;
        }
    }
    EXPECT_TRUE(SimJournalLines(root_).empty());

    const HttpAnswer listed = Send(RunBody(R"(["list"])"));
    ASSERT_EQ(listed.status, 200) << listed.body;
    const nlohmann::json document = Json(listed.body);
    EXPECT_EQ(document.value("ok", false), true) << listed.body;
    EXPECT_EQ(document.value("exit_code", -1), 0) << listed.body;
    EXPECT_EQ(document["vms"].size(), 3u) << listed.body;
    EXPECT_EQ(SimJournalLines(root_), std::vector<std::string>{"memuc.exe memuc listvms"});

    // Refused before anything runs.
    ClearSimJournal(root_);
    for (const char* argv :
         {R"(["list", "--install-dir", "C:\\"])", R"(["health", "--watch", "5"])", R"(["mcp"])",
          R"(["serve"])", R"(["screenshot", "1", "C:\\x.png"])",
          R"(["adb", "1", "pull", "/sdcard/x", "C:\\x"])", R"(["start", "nine"])"}) {
        const HttpAnswer refused = Send(RunBody(argv));
        EXPECT_EQ(refused.status, 422) << argv << "\n" << refused.body;
        EXPECT_EQ(Json(refused.body).value("exit_code", -1), 2) << argv << "\n" << refused.body;
    }
    EXPECT_TRUE(SimJournalLines(root_).empty());

    // A step that failed: 500, exit code 1.
    const HttpAnswer failed = Send(RunBody(R"(["rename", "99", "x"])"));
    EXPECT_EQ(failed.status, 500) << failed.body;
    EXPECT_EQ(Json(failed.body).value("exit_code", -1), 1) << failed.body;

    // The token is never in a log line.
    EXPECT_FALSE(Contains(server_.Err(), kToken)) << server_.Err();
    EXPECT_TRUE(Contains(server_.Err(), " 401 ")) << server_.Err();
}

TEST_F(ServeTest, OwnerLimitsHoldCommandsBack) {
    ASSERT_TRUE(StartServer({"--read-only", "--vms", "0-1"})) << server_.Err();
    ClearSimJournal(root_);
    const HttpAnswer start = Send(RunBody(R"(["start", "1"])"));
    EXPECT_EQ(start.status, 422) << start.body;
    EXPECT_TRUE(Contains(start.body, "--read-only")) << start.body;
    const HttpAnswer outside = Send(RunBody(R"(["running", "2"])"));
    EXPECT_EQ(outside.status, 422) << outside.body;
    EXPECT_TRUE(Contains(outside.body, "--vms 0,1")) << outside.body;
    EXPECT_TRUE(SimJournalLines(root_).empty());
    const HttpAnswer within = Send(RunBody(R"(["running", "1"])"));
    EXPECT_EQ(within.status, 200) << within.body;
}

struct Usage {
    DWORD handles = 0;
    SIZE_T private_bytes = 0;
};

// GetProcessHandleCount and GetProcessMemoryInfo, and where they tell nothing of another
// process (Wine), the system's process list, which health reads too.
Usage UsageOf(HANDLE process) {
    Usage usage;
    GetProcessHandleCount(process, &usage.handles);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters))
        usage.private_bytes = counters.PrivateUsage;
    if (usage.handles && usage.private_bytes) return usage;
    if (const auto list = ReadProcessList())
        for (const ProcessReading& reading : *list)
            if (reading.pid == GetProcessId(process)) {
                if (!usage.handles) usage.handles = reading.handles;
                if (!usage.private_bytes) usage.private_bytes = reading.private_bytes;
            }
    return usage;
}

// 1,000 requests, 50 at once, good and bad mixed: no bad one runs anything, every good one is
// answered with its document, and the server holds no more handles or memory at the end than
// after its first hundred.
TEST_F(ServeTest, AnAttackRunsNothingAndLeavesTheServerAsItWas) {
    // Room for every client at once: the bound on calls is not what this test is about.
    ASSERT_TRUE(StartServer({"--max-calls", "64"})) << server_.Err();
    ClearSimJournal(root_);
    constexpr int kRequests = 1000;
    constexpr int kAtOnce = 50;
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::atomic<int> good_sent{0}, good_answered{0}, bad_let_in{0}, slow_answered{0};
    Usage first, last;
    std::atomic<bool> first_taken{false};
    std::mutex failures_mutex;
    std::vector<std::string> failures;

    const auto one = [&](int i) {
        const int kind = i % 10;
        if (kind < 3) {
            ++good_sent;
            const HttpAnswer answer = Send(RunBody(R"(["list"])"));
            if (answer.status == 200 && Json(answer.body).value("exit_code", -1) == 0) {
                ++good_answered;
            } else {
                std::lock_guard lock(failures_mutex);
                failures.push_back(std::to_string(answer.status) + " " + answer.body);
            }
            return;
        }
        Ask ask = RunBody(R"(["start", "all"])");  // what a bad request would run if let in
        std::string stall;
        switch (kind) {
            case 3:
                ask.token.clear();
                break;
            case 4:
                ask.token = "wrong-token-wrong-token-wrong-token-wrong-token";
                break;
            case 5:
                ask.extra = "Origin: http://evil.example\r\n";
                break;
            case 6:
                ask.host = "rebound.example:" + std::to_string(port_);
                break;
            case 7:
                ask.body.clear();
                ask.content_length = "5000000";
                break;
            case 8:
                ask.body = R"({"argv": ["start", "all")";
                break;
            case 9:
                if (i % 50 == 9) {  // a slow client: half a header, then nothing
                    const std::string whole = Written(ask, port_);
                    const HttpAnswer answer =
                        HttpExchange(port_, whole.substr(0, whole.size() / 2));
                    if (answer.status != 0) ++slow_answered;
                    return;
                }
                ask.body = R"({"argv": ["start", "all"], "more": 1})";
                break;
        }
        const HttpAnswer answer = Send(ask);
        if (answer.status == 200 || answer.status == 0) ++bad_let_in;
    };
    std::vector<std::thread> clients;
    for (int c = 0; c < kAtOnce; ++c)
        clients.emplace_back([&] {
            for (int i = next++; i < kRequests; i = next++) {
                one(i);
                if (++done == 100 && !first_taken.exchange(true)) first = UsageOf(server_.Handle());
            }
        });
    for (std::thread& client : clients) client.join();
    last = UsageOf(server_.Handle());

    EXPECT_EQ(good_answered.load(), good_sent.load()) << (failures.empty() ? "" : failures.front());
    EXPECT_EQ(bad_let_in.load(), 0);
    EXPECT_EQ(slow_answered.load(), 0);
    const std::vector<std::string> journal = SimJournalLines(root_);
    EXPECT_EQ(journal.size(), static_cast<size_t>(good_sent.load()));
    for (const std::string& line : journal) EXPECT_EQ(line, "memuc.exe memuc listvms");
    if (first.handles == 0) {
        // Wine reports no handle count for another process; Windows does.
        std::printf("note: the server's handle count is not reported here; not compared\n");
    } else {
        // Wine's process list counts a process's handle table in steps of 128, so one step
        // may show while 50 requests are open at once; a leak of one handle a request would
        // add 900 here.
        EXPECT_LE(last.handles, std::max<DWORD>(first.handles + 32, 2 * first.handles))
            << first.handles << " then " << last.handles;
    }
    ASSERT_GT(first.private_bytes, 0u);
    EXPECT_LE(last.private_bytes, first.private_bytes + first.private_bytes / 4 + (8u << 20))
        << first.private_bytes << " then " << last.private_bytes;
}

std::string LocalAppData() {
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", value, MAX_PATH + 1);
    return n && n <= MAX_PATH ? GbkFromWide(value) : std::string();
}

std::string TokenIn(const std::string& out) {
    const size_t at = out.find("?token=");
    if (at == std::string::npos) return {};
    size_t end = at + 7;
    while (end < out.size() && std::isxdigit(static_cast<unsigned char>(out[end]))) ++end;
    return out.substr(at + 7, end - at - 7);
}

// The file's DACL, when it is protected and holds one ACE, the current user's, allowing;
// otherwise what it holds instead.
std::string OwnerOnlyProblem(const std::string& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(WideFromGbk(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return "no security information";
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    std::string problem;
    if (!(control & SE_DACL_PROTECTED)) problem += "the DACL is not protected; ";
    HANDLE process_token = nullptr;
    char user[256];
    DWORD size = 0;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process_token);
    GetTokenInformation(process_token, TokenUser, user, sizeof user, &size);
    CloseHandle(process_token);
    const PSID user_sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* each = nullptr;
        if (!GetAce(dacl, i, &each)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(each);
        if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            EqualSid(&allowed->SidStart, user_sid) && dacl->AceCount == 1)
            continue;
        LPWSTR sid_text = nullptr;
        ConvertSidToStringSidW(&allowed->SidStart, &sid_text);
        problem += "ACE " + (sid_text ? GbkFromWide(sid_text) : std::string("?")) + " " +
                   std::to_string(allowed->Mask) + "; ";
        LocalFree(sid_text);
    }
    if (!dacl) problem += "no DACL (everyone may read)";
    LocalFree(descriptor);
    return problem;
}

// Whether files in `folder` keep the DACL they are made with (Wine keeps it only on a file
// system that holds extended attributes).
bool KeepsDacls(const std::string& folder, std::string* probe_problem) {
    const std::string probe = folder + "dacl-probe.txt";
    char user[256];
    DWORD size = 0;
    HANDLE process_token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process_token);
    GetTokenInformation(process_token, TokenUser, user, sizeof user, &size);
    CloseHandle(process_token);
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    char acl_bytes[256];
    ACL* acl = reinterpret_cast<ACL*>(acl_bytes);
    InitializeAcl(acl, sizeof acl_bytes, ACL_REVISION);
    AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    UniqueFileHandle file(CreateFileW(WideFromGbk(probe).c_str(), GENERIC_WRITE, 0, &attributes,
                                      CREATE_ALWAYS, 0, nullptr));
    file.reset();
    *probe_problem = OwnerOnlyProblem(probe);
    DeleteFileW(WideFromGbk(probe).c_str());
    return probe_problem->empty();
}

TEST_F(ServeTest, TheKeptTokenIsMadeOnceForTheOwnerAlone) {
    const std::string saved = LocalAppData();
    const std::string local = root_ + "local\\";
    ASSERT_TRUE(CreateDirectoryW(WideFromGbk(local).c_str(), nullptr));
    SetEnvironmentVariableW(L"LOCALAPPDATA", WideFromGbk(root_ + "local").c_str());
    const std::vector<std::string> args = {"--listen", "127.0.0.1:" + std::to_string(port_)};

    ASSERT_TRUE(server_.Start(args, root_)) << server_.Err();
    const std::string token = TokenIn(server_.Out());
    server_.End();
    EXPECT_EQ(token.size(), 64u) << server_.Out();
    const std::string path = local + "MEmuFarm\\token";
    EXPECT_EQ(ReadWhole(path), token + "\r\n");

    std::string probe_problem;
    if (KeepsDacls(local, &probe_problem)) {
        EXPECT_EQ(OwnerOnlyProblem(path), "");
    } else {
        std::printf(
            "note: this file system does not keep DACLs (a probe file made owner-only "
            "reads back as: %s); the token file's is not read\n",
            probe_problem.c_str());
    }

    ASSERT_TRUE(server_.Start(args, root_)) << server_.Err();
    EXPECT_EQ(TokenIn(server_.Out()), token);
    server_.End();
    SetEnvironmentVariableW(L"LOCALAPPDATA", saved.empty() ? nullptr : WideFromGbk(saved).c_str());
}

TEST_F(ServeTest, AShortTokenFileIsRefusedAtStart) {
    const std::string short_file = root_ + "short.txt";
    ASSERT_TRUE(WriteWhole(short_file, "too-short\r\n"));
    const FarmResult refused = RunFarm(
        {"serve", "--listen", "127.0.0.1:" + std::to_string(port_), "--token-file", short_file},
        30000);
    EXPECT_EQ(refused.code, 2u);
    EXPECT_TRUE(Contains(refused.err, "token")) << refused.err;
    EXPECT_TRUE(refused.out.empty()) << refused.out;
}

// Ctrl+C as the owner presses it in the server's console: the request that runs is waited for
// and answered, nothing new is taken, and the server ends with 0.
TEST_F(ServeTest, CtrlCLetsTheRunningRequestFinishThenEnds) {
    ASSERT_TRUE(StartServer({}, true)) << server_.Err();
    SetSimSwitches(root_, "memuc.exe listvms delay=3000\r\n");
    ClearSimJournal(root_);
    HttpAnswer running;
    std::thread slow([&] { running = Send(RunBody(R"(["list"])")); });
    // The listing is under way once the simulated tool has recorded its start.
    const auto listing = [&] { return !SimJournalLines(root_).empty(); };
    const ULONGLONG asked = GetTickCount64();
    while (GetTickCount64() - asked < 15000 && !listing()) Sleep(20);
    // The event goes to every process of a console: this test joins the server's for the moment
    // it sends it, ignoring it itself.
    FreeConsole();
    const bool attached = AttachConsole(server_.Pid()) != FALSE;
    SetConsoleCtrlHandler(nullptr, TRUE);
    const bool sent = attached && listing() && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    const DWORD error = GetLastError();
    slow.join();
    FreeConsole();
    SetConsoleCtrlHandler(nullptr, FALSE);
    ASSERT_TRUE(attached) << "AttachConsole failed";
    ASSERT_TRUE(sent) << "the listing never started, or the event was not sent: " << error;
    EXPECT_EQ(running.status, 200) << running.body;
    EXPECT_EQ(Json(running.body).value("ok", false), true) << running.body;
    ASSERT_EQ(WaitForSingleObject(server_.Handle(), 15000), WAIT_OBJECT_0) << server_.Err();
    DWORD code = 99;
    GetExitCodeProcess(server_.Handle(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(Contains(server_.Err(), "stopping")) << server_.Err();
    // Ended: nothing is taken any more.
    EXPECT_EQ(Send(RunBody(R"(["list"])")).status, 0);
    SetSimSwitches(root_, "");
}

// The farm page's captures of VM 1, watched through the state a page reads (VM 1 in focus, so
// at full size every second): how often the simulated device was asked for its raw screen and
// for its PNG, and what the full-size download is.
struct PageCaptureRow {
    const char* name;
    const char* switches;
    int raw_asks;  // exactly; -1: at every capture
    bool png_asks;
};

class ServePageCaptureTest : public ServeTest,
                             public testing::WithParamInterface<PageCaptureRow> {};

// A picture's version in a page's state document; 0 while it has none.
int Version(const nlohmann::json& vm, const char* key) {
    const auto found = vm.find(key);
    return found != vm.end() && found->is_number_integer() ? found->get<int>() : 0;
}

size_t CountLines(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

TEST_P(ServePageCaptureTest, RawScreensUnlessTheDeviceGivesNoneThenPngs) {
    const PageCaptureRow& row = GetParam();
    SetSimSwitches(root_, row.switches);
    ASSERT_TRUE(StartServer()) << server_.Err();
    const HttpAnswer start = Send(RunBody(R"(["start", "1"])"));
    ASSERT_EQ(start.status, 200) << start.body;
    ClearSimJournal(root_);
    // Three captures of VM 1: its thumbnail's versions and its full-size screen's.
    int captures = 0;
    Ask state;
    state.method = "GET";
    state.target = "/api/page/state?focus=1";
    const ULONGLONG began = GetTickCount64();
    while (captures < 3 && GetTickCount64() - began < 60000) {
        const HttpAnswer answer = Send(state);
        const nlohmann::json document = Json(answer.body);
        if (document.contains("vms") && document["vms"].is_array())
            for (const nlohmann::json& vm : document["vms"])
                if (vm.value("index", -1) == 1)
                    captures = Version(vm, "thumb") + Version(vm, "full");
        Sleep(200);
    }
    ASSERT_GE(captures, 3) << server_.Err();
    Ask download;
    download.method = "GET";
    download.target = "/api/page/image?vm=1&full=1&format=png&download=1";
    const HttpAnswer png = Send(download);
    EXPECT_EQ(png.status, 200) << png.body;
    EXPECT_EQ(png.body.substr(0, 8), "\x89PNG\r\n\x1a\n");
    const std::vector<std::string> journal = SimJournalLines(root_);
    const size_t raw = CountLines(journal, "adb-server exec:screencap");
    const size_t pngs = CountLines(journal, "adb-server exec:screencap -p");
    if (row.raw_asks < 0) {
        EXPECT_GE(raw, 3u);
    } else {
        EXPECT_EQ(raw, static_cast<size_t>(row.raw_asks));
    }
    if (row.png_asks) {
        EXPECT_GE(pngs, 3u);
    } else {
        EXPECT_EQ(pngs, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServePageCaptureTest,
    testing::Values(PageCaptureRow{"raw_screens", "adb.exe * boot=0\r\n", -1, false},
                    PageCaptureRow{"no_raw_asked_once_then_png",
                                   "adb.exe * boot=0\r\nadb.exe exec noraw 1\r\n", 1, true}),
    [](const testing::TestParamInfo<PageCaptureRow>& row) { return std::string(row.param.name); });

}  // namespace
