// The adb client against the simulated adb server, across a real loopback socket on a free
// port the test picks: typing, the boot state, a screen capture, a hung VM, a server that never
// answers, and a server started by the client's callback and ended by kill-server.
#include <winsock2.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <string>
#include <thread>

#include "adb/adb_client.h"
#include "adb/adb_system_win.h"
#include "agent/screen_limits.h"
#include "image/image_scaling.h"
#include "image/raw_screen.h"
#include "support/sim_install.h"
#include "support/test_adb_port.h"
#include "win/steady_clock.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

using adb::AdbClient;
using adb::AdbOutcome;
using adb::AdbResult;

const std::string kVm0 = "127.0.0.1:21503";
const std::string kVm1 = "127.0.0.1:21513";
const std::string kVm2 = "127.0.0.1:21523";

int AdbProcessCount() {
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        count += _wcsicmp(entry.szExeFile, L"adb.exe") == 0;
    }
    return count;
}

// Waits up to 5 s for the last adb.exe to end (a process takes a moment to go under Wine).
bool NoAdbProcessLeft() {
    for (int i = 0; i < 250 && AdbProcessCount() > 0; ++i) Sleep(20);
    return AdbProcessCount() == 0;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class AdbServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(system_.Ready());
        port_ = FreeLoopbackPort();
        ASSERT_GT(port_, 0);
        // The tools started from here find the server on the test's own port.
        SetEnvironmentVariableW(L"ANDROID_ADB_SERVER_PORT", std::to_wstring(port_).c_str());
        root_ = MakeTempFolder("adbserver");
        install_ = InstallSimulatedEmulator(root_, 3);
        ASSERT_EQ(install_, root_ + "MEmu\\");
        SetSimSwitches(root_, "adb.exe * boot=0\r\n");
        ASSERT_EQ(Memuc("start -i 0"), 0u);
        ASSERT_EQ(Memuc("start -i 1"), 0u);
        client_ = std::make_unique<AdbClient>(system_, port_, [this] {
            ++start_calls_;
            return Adb("start-server") == 0;
        });
    }
    void TearDown() override {
        EXPECT_EQ(Adb("kill-server"), 0u);
        EXPECT_TRUE(NoAdbProcessLeft());
        StopSimulatedVms(root_);
        DeleteInstallLocationValue();
        SetEnvironmentVariableW(L"ANDROID_ADB_SERVER_PORT", nullptr);
    }

    DWORD Memuc(const std::string& args) {
        return RunHidden(install_, "\"" + install_ + "memuc.exe\" " + args);
    }
    DWORD Adb(const std::string& args) {
        return RunHidden(install_, "\"" + install_ + "adb.exe\" " + args);
    }
    double In(double seconds) { return system_.Now() + seconds; }
    std::string RootFile(const char* name) {
        std::string text;
        sim::ReadFileBytes(root_ + name, &text);
        return text;
    }

    adb::WinAdbSystem system_;
    int port_ = 0;
    std::string root_, install_;
    std::atomic<int> start_calls_{0};
    std::unique_ptr<AdbClient> client_;
};

TEST_F(AdbServerTest, InputTextTypesExactlyThroughTheServer) {
    const AdbResult typed = client_->Shell(kVm0, "input text 'a%sb\"c'\\''d'", In(10));
    ASSERT_EQ(typed.outcome, AdbOutcome::kOk) << typed.message;
    EXPECT_EQ(typed.output, "");
    EXPECT_EQ(RootFile(sim::kTypedFile), "0\ta b\"c'd\r\n");
    EXPECT_EQ(start_calls_, 1);  // the first request found no server

    // The device was unknown to the server, so the client connected it once; no adb.exe call
    // ran the device command.
    const std::string journal = SimJournal(root_);
    EXPECT_TRUE(Contains(journal,
                         "adb-server host:transport:127.0.0.1:21503\r\n"
                         "adb-server host:connect:127.0.0.1:21503\r\n"
                         "adb-server host:transport:127.0.0.1:21503\r\n"
                         "adb-server shell:input text 'a%sb\"c'\\''d'\r\n"))
        << journal;
    EXPECT_FALSE(Contains(journal, "adb.exe -s")) << journal;

    // A line the device shell would run as more than one typing is refused, as adb.exe does.
    const AdbResult refused = client_->Shell(kVm0, "input text a;reboot", In(10));
    ASSERT_TRUE(refused.ok()) << refused.message;
    EXPECT_TRUE(Contains(refused.output, "the device shell would run")) << refused.output;
    EXPECT_EQ(RootFile(sim::kTypedFile), "0\ta b\"c'd\r\n");
}

TEST_F(AdbServerTest, BootCompletedIsOfflineThenOne) {
    // Long enough that the first asks come before the boot also on a loaded machine.
    SetSimSwitches(root_, "adb.exe * boot=6000\r\n");
    ASSERT_EQ(Memuc("start -i 2"), 0u);
    const AdbResult booting = client_->Shell(kVm2, "getprop sys.boot_completed", In(10));
    EXPECT_EQ(booting.outcome, AdbOutcome::kFailed);
    EXPECT_EQ(booting.message, "device offline");
    const AdbResult devices = client_->Devices(In(10));
    EXPECT_EQ(devices.output, kVm2 + "\toffline\n");

    AdbResult booted;
    for (int i = 0; i < 200 && !booted.ok(); ++i) {
        Sleep(100);
        booted = client_->Shell(kVm2, "getprop sys.boot_completed", In(10));
    }
    EXPECT_EQ(booted.outcome, AdbOutcome::kOk) << booted.message;
    EXPECT_EQ(booted.output, "1\r\n");

    // A stopped VM is not found, and connecting it fails.
    const AdbResult stopped = client_->Shell(kVm1, "getprop sys.boot_completed", In(10));
    ASSERT_EQ(stopped.outcome, AdbOutcome::kOk) << stopped.message;
    ASSERT_EQ(Memuc("stop -i 1"), 0u);
    const AdbResult gone = client_->Shell(kVm1, "getprop sys.boot_completed", In(10));
    EXPECT_EQ(gone.outcome, AdbOutcome::kFailed);
    EXPECT_EQ(gone.message, "device '127.0.0.1:21513' not found");
}

TEST_F(AdbServerTest, ScreencapWritesAPngFile) {
    const std::string path = root_ + "截图 1.png";
    const AdbResult shot = client_->ExecToFile(kVm1, "screencap -p", path, In(10));
    ASSERT_EQ(shot.outcome, AdbOutcome::kOk) << shot.message;
    std::string bytes;
    ASSERT_TRUE(sim::ReadFileBytes(path, &bytes));
    EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(bytes.substr(bytes.size() - 8), std::string("IEND\xae\x42\x60\x82"));
}

// The raw screen, read as the page reads it: the same screen as the PNG, pixel for pixel; a
// device switched to print no raw screen gives its PNG, which is no raw screen.
TEST_F(AdbServerTest, ScreencapWithoutPIsTheRawScreenUnlessSwitchedOff) {
    const size_t most = image::RawScreenMostBytes(agent::kMostCapturePixels);
    const AdbResult raw = client_->Exec(kVm1, "screencap", most, In(10));
    ASSERT_EQ(raw.outcome, AdbOutcome::kOk) << raw.message;
    EXPECT_EQ(raw.output.size(), 16u + 1280 * 720 * 4);
    const image::Decoded screen = image::DecodeRawScreen(raw.output, agent::kMostCapturePixels);
    ASSERT_TRUE(screen.picture) << screen.problem;
    const AdbResult png = client_->Exec(kVm1, "screencap -p", most, In(10));
    ASSERT_EQ(png.outcome, AdbOutcome::kOk) << png.message;
    const image::Decoded decoded = image::Decode(png.output, agent::kMostCapturePixels);
    ASSERT_TRUE(decoded.picture) << decoded.problem;
    EXPECT_EQ(screen.picture->width, decoded.picture->width);
    EXPECT_EQ(screen.picture->height, decoded.picture->height);
    EXPECT_TRUE(screen.picture->rgb == decoded.picture->rgb);

    SetSimSwitches(root_, "adb.exe * boot=0\r\nadb.exe exec noraw 1\r\n");
    const AdbResult refused = client_->Exec(kVm1, "screencap", most, In(10));
    ASSERT_EQ(refused.outcome, AdbOutcome::kOk) << refused.message;
    EXPECT_EQ(refused.output, png.output);
    EXPECT_FALSE(image::DecodeRawScreen(refused.output, agent::kMostCapturePixels).picture);
    const AdbResult other = client_->Exec(kVm0, "screencap", most, In(10));
    EXPECT_TRUE(image::DecodeRawScreen(other.output, agent::kMostCapturePixels).picture);
}

TEST_F(AdbServerTest, AHungVmTimesOutWhileAnotherAnswers) {
    ASSERT_TRUE(client_->Version(In(10)).ok());
    SetSimSwitches(root_, "adb.exe * boot=0\r\nadb.exe * hang 1\r\n");
    const double begin = system_.Now();
    AdbResult hung;
    std::thread waiting(
        [&] { hung = client_->Shell(kVm1, "getprop sys.boot_completed", begin + 2); });
    const AdbResult answered = client_->Shell(kVm0, "getprop sys.boot_completed", begin + 10);
    const double answered_after = system_.Now() - begin;
    waiting.join();
    const double hung_after = system_.Now() - begin;

    EXPECT_EQ(answered.outcome, AdbOutcome::kOk) << answered.message;
    EXPECT_EQ(answered.output, "1\r\n");
    EXPECT_LT(answered_after, 2.0);  // it did not wait for the hung one
    EXPECT_EQ(hung.outcome, AdbOutcome::kTimedOut) << hung.message;
    EXPECT_GE(hung_after, 2.0);
    EXPECT_LT(hung_after, 4.0);
}

TEST_F(AdbServerTest, AServerThatNeverAnswersTimesOut) {
    ASSERT_TRUE(client_->Version(In(10)).ok());
    SetSimSwitches(root_, "adb.exe server hang\r\n");
    const double begin = system_.Now();
    const AdbResult version = client_->Version(begin + 1);
    EXPECT_EQ(version.outcome, AdbOutcome::kTimedOut) << version.message;
    EXPECT_LT(system_.Now() - begin, 3.0);
    SetSimSwitches(root_, "");
}

TEST_F(AdbServerTest, StartServerThenKillServerLeaveNoProcess) {
    ASSERT_EQ(Adb("start-server"), 0u);
    EXPECT_EQ(AdbProcessCount(), 1);
    EXPECT_EQ(Adb("start-server"), 0u);  // one is running: nothing more starts
    EXPECT_EQ(AdbProcessCount(), 1);
    const AdbResult version = client_->Version(In(10));
    EXPECT_EQ(version.output, "0029");
    EXPECT_EQ(start_calls_, 0);

    ASSERT_EQ(Adb("kill-server"), 0u);
    EXPECT_TRUE(NoAdbProcessLeft());
    // The callback was spent on nothing yet: now it starts the server once more.
    EXPECT_TRUE(client_->Version(In(10)).ok());
    EXPECT_EQ(start_calls_, 1);
    ASSERT_EQ(Adb("kill-server"), 0u);
    EXPECT_TRUE(NoAdbProcessLeft());
    EXPECT_EQ(client_->Version(In(10)).outcome, AdbOutcome::kNoServer);
    EXPECT_EQ(start_calls_, 1);
}

}  // namespace
