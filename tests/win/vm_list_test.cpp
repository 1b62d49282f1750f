// The VM list against the simulated emulator: the window's 组合框1 and the control module's
// listing of running VMs with their MEmuHeadless.exe processes.
#include <gtest/gtest.h>

#include <string>

#include "control/control_factory_win.h"
#include "support/app_driver.h"
#include "support/sim_fixture.h"
#include "support/sim_install.h"
#include "win/wide_text.h"

namespace {

class VmList_ : public SimulatedEmulatorTest {
protected:
    VmList_() : SimulatedEmulatorTest("列表", 3) {}
};

std::string ComboItemText(HWND combo, int index) {
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return GbkFromWide(text);
}

TEST_F(VmList_, StartUpFillsTheListInReplyOrderAndSelectsTheFirst) {
    AppDriver app;
    ASSERT_TRUE(app.Start(3));
    HWND combo = app.Control(AppControl::kVmList);
    EXPECT_EQ(ComboItemText(combo, 0), "MEmu");
    EXPECT_EQ(ComboItemText(combo, 1), "MEmu_1");
    EXPECT_EQ(ComboItemText(combo, 2), "MEmu_2");
    EXPECT_EQ(SendMessageW(combo, CB_GETITEMDATA, 2, 0), 2);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(app.Text(AppControl::kInstallDir), root_ + "MEmu\\");

    // Two refreshes in a row: still one item per VM.
    ClearSimJournal(root_);
    app.Click(AppControl::kRefresh);
    app.Click(AppControl::kRefresh);
    ASSERT_TRUE(WaitUntil([&] { return SimJournalLines(root_).size() >= 2; }, 20000));
    Sleep(500);
    EXPECT_EQ(app.ComboCount(), 3);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
    app.Close();
    EXPECT_EQ(app.WaitForExit(20000), 0);
}

TEST_F(VmList_, DetachedStartReturnsFalseAndTheRunningVmCarriesItsHeadlessPid) {
    auto control = CreateEmulatorControl();
    ASSERT_EQ(control->control_dir, root_ + "MEmu\\");
    EXPECT_FALSE(control->StartVm(2));
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const auto& vm : SimVms(root_))
                if (vm.index == 2 && vm.started && vm.pid != 0) return true;
            return false;
        },
        20000));
    uint32_t headless = 0;
    for (const auto& vm : SimVms(root_))
        if (vm.index == 2) headless = vm.pid;

    ::VmList vms;
    ASSERT_EQ(control->ListVms(vms), 3);
    const VmRecord& running = vms.At(3, {901, 1});
    EXPECT_EQ(running.index, 2);
    EXPECT_TRUE(running.started);
    EXPECT_NE(running.process_id, 0);
    EXPECT_EQ(static_cast<uint32_t>(running.headless_pid), headless);
    EXPECT_EQ(control->FindHeadlessProcess(2), static_cast<int32_t>(headless));
    const VmRecord& stopped = vms.At(1, {901, 2});
    EXPECT_FALSE(stopped.started);
    EXPECT_EQ(stopped.headless_pid, 0);
}

}  // namespace
