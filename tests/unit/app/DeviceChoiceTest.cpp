// The settings pages' device lists: which row shows the stored device, and which name goes back.
#include <gtest/gtest.h>

#include "app/DeviceChoice.h"

namespace {

// An audio list: the empty entry, then the devices.
const std::vector<std::string> kRows = {"", "Headset", "Speakers", "Headset"};

}  // namespace

TEST(DeviceChoice, StoredNameSelectsItsFirstExactMatchAndAnEmptyNameTheFirstRow) {
    EXPECT_EQ(RowOfStoredDevice(kRows, "Headset"), 1);
    EXPECT_EQ(RowOfStoredDevice(kRows, "Speakers"), 2);
    EXPECT_EQ(RowOfStoredDevice(kRows, ""), 0);
    EXPECT_EQ(RowOfStoredDevice({"Cam A", "Cam B"}, ""), 0);
    // Not listed: nothing is selected, nor is a name that differs only in case.
    EXPECT_EQ(RowOfStoredDevice(kRows, "headset"), -1);
    EXPECT_EQ(RowOfStoredDevice(kRows, "USB Headset"), -1);
    EXPECT_EQ(RowOfStoredDevice({}, ""), -1);
    EXPECT_EQ(RowOfStoredDevice({}, "Cam A"), -1);
}

TEST(DeviceChoice, AnUnlistedStoredNameIsKeptUntilAnotherRowIsPicked) {
    // Opening and applying with an unplugged headset gives the headset back, not an empty name.
    const int row = RowOfStoredDevice(kRows, "USB Headset");
    EXPECT_EQ(DeviceToStore(kRows, row, "USB Headset"), "USB Headset");
    EXPECT_EQ(DeviceToStore({}, -1, "USB Headset"), "USB Headset");
    // Any row the user picks wins, the empty entry too.
    EXPECT_EQ(DeviceToStore(kRows, 2, "USB Headset"), "Speakers");
    EXPECT_EQ(DeviceToStore(kRows, 0, "USB Headset"), "");
    // A row past the list selects nothing.
    EXPECT_EQ(DeviceToStore(kRows, 4, "USB Headset"), "USB Headset");
}
