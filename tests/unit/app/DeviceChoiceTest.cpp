// The settings pages' device lists: which row shows the stored device, and which name goes back.
#include <gtest/gtest.h>

#include "app/DeviceChoice.h"

TEST(DeviceChoice, AnUnlistedStoredNameSelectsNothingAndIsKeptUntilAnotherRowIsPicked) {
    const std::vector<std::string> rows = {"", "Headset", "Speakers", "Headset"};
    EXPECT_EQ(RowOfStoredDevice(rows, "Headset"), 1);  // the first exact match
    EXPECT_EQ(RowOfStoredDevice({"Cam A", "Cam B"}, ""), 0);
    EXPECT_EQ(RowOfStoredDevice(rows, "headset"), -1);
    EXPECT_EQ(RowOfStoredDevice({}, ""), -1);
    // Opening and applying with an unplugged headset gives the headset back, not an empty name.
    EXPECT_EQ(DeviceToStore(rows, RowOfStoredDevice(rows, "USB Headset"), "USB Headset"), "USB Headset");
    // Any row the user picks wins, the empty entry too.
    EXPECT_EQ(DeviceToStore(rows, 2, "USB Headset"), "Speakers");
    EXPECT_EQ(DeviceToStore(rows, 0, "USB Headset"), "");
}
