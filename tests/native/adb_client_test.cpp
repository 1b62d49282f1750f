// The adb client over a scripted server and a fake clock: what it sends on each connection,
// the deadlines it gives every call, and how each reply becomes a result.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "adb/adb_client.h"
#include "adb/adb_codec.h"
#include "fake_adb_system.h"
#include "row_name.h"

namespace {

using adb::AdbClient;
using adb::AdbOutcome;
using adb::AdbResult;

constexpr double kDeadline = 130.0;  // the fake clock starts at 100
constexpr int kPort = 5041;
const std::string kSerial = "127.0.0.1:21513";

std::string Framed(const std::string& request) {
    return *adb::FrameRequest(request);
}

const std::string kTransport = Framed("host:transport:" + kSerial);
const std::string kConnectRequest = Framed("host:connect:" + kSerial);
const std::string kGetprop = Framed("shell:getprop sys.boot_completed");
// A FAIL reply frames its message as a request does.
const std::string kNotFound = "FAIL" + Framed("device '127.0.0.1:21513' not found");

enum class Op { kShell, kExec, kExecInMemory, kVersion, kDevices, kConnect };

constexpr size_t kMostExecBytes = 16;  // what kExecInMemory takes at most

struct ClientRow {
    const char* name;
    Op op;
    std::vector<FakeConnection> script;
    bool with_start;  // the client is given a start callback (which returns true)
    AdbOutcome outcome;
    std::string output;             // ok: the output or the file's bytes
    std::string message;            // part of the message, when not ok
    std::vector<std::string> sent;  // per connection
    int start_calls;
};

AdbResult RunOp(AdbClient& client, Op op) {
    switch (op) {
        case Op::kShell:
            return client.Shell(kSerial, "getprop sys.boot_completed", kDeadline);
        case Op::kExec:
            return client.ExecToFile(kSerial, "screencap -p", "C:\\shots\\1.png", kDeadline);
        case Op::kExecInMemory:
            return client.Exec(kSerial, "screencap", kMostExecBytes, kDeadline);
        case Op::kVersion:
            return client.Version(kDeadline);
        case Op::kDevices:
            return client.Devices(kDeadline);
        case Op::kConnect:
            return client.Connect(kSerial, kDeadline);
    }
    return {};
}

class AdbClientTest : public testing::TestWithParam<ClientRow> {};

TEST_P(AdbClientTest, SendsItsRequestsAndReadsTheReplies) {
    const ClientRow& row = GetParam();
    FakeAdbSystem system(row.script);
    int start_calls = 0;
    AdbClient::StartServer start;
    if (row.with_start) start = [&] { return ++start_calls > 0; };
    AdbClient client(system, kPort, start);

    const AdbResult result = RunOp(client, row.op);

    EXPECT_EQ(adb::OutcomeName(result.outcome), std::string(adb::OutcomeName(row.outcome)))
        << result.message;
    if (row.op == Op::kExec) {
        ASSERT_EQ(system.files().size(), result.ok() || !row.output.empty() ? 1u : 0u);
        if (!system.files().empty()) {
            const FakeFile& file = *system.files()[0];
            EXPECT_EQ(file.path, "C:\\shots\\1.png");
            EXPECT_EQ(file.bytes, row.output);
            EXPECT_EQ(file.closed, result.ok());
            EXPECT_EQ(file.discarded, !result.ok());
        }
    } else if (result.ok()) {
        EXPECT_EQ(result.output, row.output);
    }
    if (row.op == Op::kExecInMemory) {
        EXPECT_TRUE(system.files().empty());
    }
    if (!result.ok()) {
        EXPECT_NE(result.message.find(row.message), std::string::npos) << result.message;
    }

    EXPECT_EQ(system.unplayed(), 0u);
    ASSERT_EQ(system.connections().size(), row.sent.size());
    for (size_t i = 0; i < row.sent.size(); ++i) {
        const FakeConnection& c = *system.connections()[i];
        EXPECT_EQ(c.sent, row.sent[i]) << "connection " << i;
        EXPECT_EQ(c.port, kPort);
        EXPECT_FALSE(c.deadlines.empty());
        for (double d : c.deadlines) EXPECT_EQ(d, kDeadline) << "connection " << i;
    }
    EXPECT_EQ(start_calls, row.start_calls);
    EXPECT_EQ(client.StartedServer(), row.start_calls > 0);
    // Only a stall moves the clock, and only to the deadline.
    EXPECT_EQ(system.Now(), row.outcome == AdbOutcome::kTimedOut ? kDeadline : 100.0);
}

const std::string kPng = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);

INSTANTIATE_TEST_SUITE_P(
    Rows, AdbClientTest,
    testing::Values(
        ClientRow{"transport_then_shell",
                  Op::kShell,
                  {Replies({"OKAY", "OKAY", "1\r", "\n"})},
                  false,
                  AdbOutcome::kOk,
                  "1\r\n",
                  "",
                  {kTransport + kGetprop},
                  0},
        ClientRow{"replies_and_output_in_one_read",
                  Op::kShell,
                  {Replies({"OKAYOKAY1\r\n"})},
                  false,
                  AdbOutcome::kOk,
                  "1\r\n",
                  "",
                  {kTransport + kGetprop},
                  0},
        ClientRow{"shell_without_output",
                  Op::kShell,
                  {Replies({"OKAYOKAY"})},
                  false,
                  AdbOutcome::kOk,
                  "",
                  "",
                  {kTransport + kGetprop},
                  0},
        ClientRow{"device_offline",
                  Op::kShell,
                  {Replies({"FAIL000edevice offline"})},
                  true,
                  AdbOutcome::kFailed,
                  "",
                  "device offline",
                  {kTransport},
                  0},
        ClientRow{"unauthorized_is_not_reconnected",
                  Op::kShell,
                  {Replies({"FAIL0014device unauthorized."})},
                  false,
                  AdbOutcome::kFailed,
                  "",
                  "device unauthorized",
                  {kTransport},
                  0},
        ClientRow{"service_refused_after_transport",
                  Op::kShell,
                  {Replies({"OKAY", "FAIL0006closed"})},
                  false,
                  AdbOutcome::kFailed,
                  "",
                  "closed",
                  {kTransport + kGetprop},
                  0},
        ClientRow{"not_found_then_connect_then_retry",
                  Op::kShell,
                  {Replies({kNotFound}), Replies({"OKAY001cconnected to 127.0.0.1:21513"}),
                   Replies({"OKAY", "OKAY", "1\n"})},
                  false,
                  AdbOutcome::kOk,
                  "1\n",
                  "",
                  {kTransport, kConnectRequest, kTransport + kGetprop},
                  0},
        ClientRow{"not_found_after_connect_once",
                  Op::kShell,
                  {Replies({kNotFound}), Replies({"OKAY0023failed to connect to 127.0.0.1:21513"}),
                   Replies({kNotFound})},
                  false,
                  AdbOutcome::kFailed,
                  "",
                  "not found",
                  {kTransport, kConnectRequest, kTransport},
                  0},
        ClientRow{"connect_times_out_after_not_found",
                  Op::kShell,
                  {Replies({kNotFound}), Replies({}, Stall::kAfterReplies)},
                  false,
                  AdbOutcome::kTimedOut,
                  "",
                  "",
                  {kTransport, kConnectRequest},
                  0},
        ClientRow{"no_server_then_start_once_then_retry",
                  Op::kShell,
                  {Refused(), Replies({"OKAYOKAY1"})},
                  true,
                  AdbOutcome::kOk,
                  "1",
                  "",
                  {"", kTransport + kGetprop},
                  1},
        ClientRow{"no_server_after_start",
                  Op::kVersion,
                  {Refused(), Refused()},
                  true,
                  AdbOutcome::kNoServer,
                  "",
                  "127.0.0.1:5041",
                  {"", ""},
                  1},
        ClientRow{"no_server_without_start_callback",
                  Op::kVersion,
                  {Refused()},
                  false,
                  AdbOutcome::kNoServer,
                  "",
                  "no adb server",
                  {""},
                  0},
        ClientRow{"connect_stalls",
                  Op::kVersion,
                  {Replies({}, Stall::kConnect)},
                  true,
                  AdbOutcome::kTimedOut,
                  "",
                  "connecting",
                  {""},
                  0},
        ClientRow{"write_stalls",
                  Op::kShell,
                  {Replies({}, Stall::kWrite)},
                  false,
                  AdbOutcome::kTimedOut,
                  "",
                  "sending",
                  {""},
                  0},
        ClientRow{"server_accepts_and_never_answers",
                  Op::kVersion,
                  {Replies({}, Stall::kAfterReplies)},
                  false,
                  AdbOutcome::kTimedOut,
                  "",
                  "reply",
                  {Framed("host:version")},
                  0},
        ClientRow{"device_stops_mid_output",
                  Op::kShell,
                  {Replies({"OKAYOKAYpart"}, Stall::kAfterReplies)},
                  false,
                  AdbOutcome::kTimedOut,
                  "",
                  "output",
                  {kTransport + kGetprop},
                  0},
        ClientRow{"reply_cut_off",
                  Op::kVersion,
                  {Replies({"OKAY00"})},
                  false,
                  AdbOutcome::kError,
                  "",
                  "cut off",
                  {Framed("host:version")},
                  0},
        ClientRow{"reply_not_the_protocol",
                  Op::kShell,
                  {Replies({"HTTP/1.1 400"})},
                  false,
                  AdbOutcome::kError,
                  "",
                  "not an adb reply",
                  {kTransport},
                  0},
        ClientRow{"version",
                  Op::kVersion,
                  {Replies({"OKAY0004", "0029"})},
                  false,
                  AdbOutcome::kOk,
                  "0029",
                  "",
                  {Framed("host:version")},
                  0},
        ClientRow{"devices",
                  Op::kDevices,
                  {Replies({"OKAY0017127.0.0.1:21503\tdevice\n"})},
                  false,
                  AdbOutcome::kOk,
                  "127.0.0.1:21503\tdevice\n",
                  "",
                  {Framed("host:devices")},
                  0},
        ClientRow{"connect_already_connected",
                  Op::kConnect,
                  {Replies({"OKAY0024already connected to 127.0.0.1:21513"})},
                  false,
                  AdbOutcome::kOk,
                  "already connected to 127.0.0.1:21513",
                  "",
                  {kConnectRequest},
                  0},
        ClientRow{"connect_refused_by_the_device",
                  Op::kConnect,
                  {Replies({"OKAY0023failed to connect to 127.0.0.1:21513"})},
                  false,
                  AdbOutcome::kFailed,
                  "",
                  "failed to connect",
                  {kConnectRequest},
                  0},
        ClientRow{"exec_writes_binary_output_to_the_file",
                  Op::kExec,
                  {Replies({"OKAYOKAY" + kPng.substr(0, 5), kPng.substr(5)})},
                  false,
                  AdbOutcome::kOk,
                  kPng,
                  "",
                  {kTransport + Framed("exec:screencap -p")},
                  0},
        ClientRow{"exec_in_memory_takes_its_bound",
                  Op::kExecInMemory,
                  {Replies({"OKAYOKAY" + kPng.substr(0, 5), kPng.substr(5)})},
                  false,
                  AdbOutcome::kOk,
                  kPng,
                  "",
                  {kTransport + Framed("exec:screencap")},
                  0},
        ClientRow{"exec_in_memory_refuses_a_byte_over_its_bound",
                  Op::kExecInMemory,
                  {Replies({"OKAYOKAY" + kPng, "x"})},
                  false,
                  AdbOutcome::kError,
                  "",
                  "larger than 16 bytes",
                  {kTransport + Framed("exec:screencap")},
                  0},
        ClientRow{"exec_offline_writes_no_file",
                  Op::kExec,
                  {Replies({"FAIL000edevice offline"})},
                  false,
                  AdbOutcome::kFailed,
                  "",
                  "offline",
                  {kTransport},
                  0},
        ClientRow{"exec_stalls_and_discards_the_file",
                  Op::kExec,
                  {Replies({"OKAYOKAY\x89PNG"}, Stall::kAfterReplies)},
                  false,
                  AdbOutcome::kTimedOut,
                  "\x89PNG",
                  "",
                  {kTransport + Framed("exec:screencap -p")},
                  0}),
    RowName());

TEST(AdbClientFiles, AFileThatCannotBeCreatedIsAnError) {
    FakeAdbSystem system({Replies({"OKAYOKAY\x89PNG"})});
    system.refuse_files = true;
    AdbClient client(system, kPort);
    const AdbResult result = client.ExecToFile(kSerial, "screencap -p", "Z:\\x.png", kDeadline);
    EXPECT_EQ(result.outcome, AdbOutcome::kError);
    EXPECT_NE(result.message.find("Z:\\x.png"), std::string::npos);
}

TEST(AdbClientFiles, AnEmptyOutputStillMakesAnEmptyFile) {
    FakeAdbSystem system({Replies({"OKAYOKAY"})});
    AdbClient client(system, kPort);
    ASSERT_TRUE(client.ExecToFile(kSerial, "true", "C:\\empty", kDeadline).ok());
    ASSERT_EQ(system.files().size(), 1u);
    EXPECT_TRUE(system.files()[0]->closed);
    EXPECT_EQ(system.files()[0]->bytes, "");
}

// Many workers share one client: the first to find no server starts it, once; every worker
// then reaches the server.
TEST(AdbClientThreads, StartsTheServerOnceForAllWorkers) {
    FakeAdbSystem system;
    std::atomic<bool> server_up{false};
    system.when_unscripted = [&] { return server_up ? Replies({"OKAY00040029"}) : Refused(); };
    std::atomic<int> start_calls{0};
    AdbClient client(system, kPort, [&] {
        ++start_calls;
        std::this_thread::yield();
        server_up = true;
        return true;
    });

    std::atomic<int> answered{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i) {
        workers.emplace_back([&] {
            if (client.Version(kDeadline).output == "0029") ++answered;
        });
    }
    for (std::thread& t : workers) t.join();
    EXPECT_EQ(start_calls, 1);
    EXPECT_EQ(answered, 8);

    // Once spent, the callback is not called again however often the server is missing.
    server_up = false;
    EXPECT_EQ(client.Version(kDeadline).outcome, AdbOutcome::kNoServer);
    EXPECT_EQ(start_calls, 1);
}

}  // namespace
