#include "app/VideoZoom.h"

#include <gtest/gtest.h>

namespace {

constexpr SVideoWindowBorders kTen{10, 10, 10, 10};

TEST(VideoZoom, LargestStepThatFitsTheWorkArea) {
    EXPECT_EQ(LargestVideoZoom(1024, 768, kTen, 2), 6);  // 980 x 740
    EXPECT_EQ(LargestVideoZoom(800, 600, kTen, 2), 4);   // 820 > 800 at step 5
    // A side exactly as large as the window fits; one pixel less does not.
    EXPECT_EQ(LargestVideoZoom(660, 500, kTen, 2), 4);
    EXPECT_EQ(LargestVideoZoom(659, 500, kTen, 2), 3);
    EXPECT_EQ(LargestVideoZoom(660, 499, kTen, 2), 3);
    // Each border counts on its own side.
    EXPECT_EQ(LargestVideoZoom(660, 500, SVideoWindowBorders{10, 11, 10, 10}, 2), 3);
    EXPECT_EQ(LargestVideoZoom(660, 500, SVideoWindowBorders{10, 10, 10, 11}, 2), 3);
}

TEST(VideoZoom, KeepsThePreviousStepWhenNoneFits) {
    EXPECT_EQ(LargestVideoZoom(180, 140, kTen, 1), 1);
    EXPECT_EQ(LargestVideoZoom(179, 140, kTen, 5), 5);
    EXPECT_EQ(LargestVideoZoom(0, 0, kTen, 3), 3);
}

}  // namespace
