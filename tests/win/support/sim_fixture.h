// Test fixtures over the simulated emulator: installed fresh for each test in a folder of its
// own, and at the end every VM it started stopped and the install location removed; for the
// console companion's tests also the adb server on a port of the test's own, ended with it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/sim_install.h"
#include "support/test_adb_port.h"

class SimulatedEmulatorTest : public testing::Test {
protected:
    // `tag` names the folder (it may hold Chinese characters); `vms` VMs, none started.
    SimulatedEmulatorTest(std::string tag, int vms) : tag_(std::move(tag)), vms_(vms) {}

    void SetUp() override {
        root_ = MakeTempFolder(tag_);
        ASSERT_FALSE(InstallSimulatedEmulator(root_, vms_).empty());
    }
    void TearDown() override {
        StopSimulatedVms(root_);
        DeleteInstallLocationValue();
    }

    std::string root_;

private:
    const std::string tag_;
    const int vms_;
};

class SimulatedFarmTest : public SimulatedEmulatorTest {
protected:
    using SimulatedEmulatorTest::SimulatedEmulatorTest;

    void TearDown() override {
        // The server a run started on the test's port ends with the test.
        EXPECT_EQ(adb_port_.EndServer(root_), 0u);
        SimulatedEmulatorTest::TearDown();
    }

    TestAdbPort adb_port_;
};
