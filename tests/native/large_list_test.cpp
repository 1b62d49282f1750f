// Listings the size of big farms, and titles whose GBK trail byte is a backslash.
#include <gtest/gtest.h>

#include <string>

#include "control/emulator_control.h"
#include "fake_control_platform.h"

namespace {

TEST(LargeListing, TenThousandLinesGiveTenThousandRecordsInOrder) {
    std::string reply;
    for (int i = 0; i < 10000; ++i) {
        // "\xD5\x5C" is one GBK character whose second byte equals a backslash.
        reply += std::to_string(i) + ",\xD5\x5C" + std::to_string(i) + ",0,0,0\r\n";
    }
    FakeControlPlatform platform;
    EmulatorControl control(platform);
    platform.replies.push_back(reply);
    VmList vms;
    ASSERT_EQ(control.ListVms(vms), 10000);
    EXPECT_EQ(vms.At(1, {902, 1}).title,
              "\xD5\x5C"
              "0");
    EXPECT_EQ(vms.At(10000, {902, 2}).index, 9999);
    EXPECT_EQ(vms.At(10000, {902, 3}).title,
              "\xD5\x5C"
              "9999");
}

}  // namespace
