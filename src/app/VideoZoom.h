// The zoom steps of the remote video window: step n shows the picture at n x 160 by n x 120 pixels, and
// the window adds its borders around it.
#pragma once

struct SVideoWindowBorders {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

constexpr int kVideoZoomStepWidth = 160;
constexpr int kVideoZoomStepHeight = 120;
constexpr int kVideoZoomLargest = 6;
constexpr int kVideoZoomOnShow = 2;

struct SVideoWindowSize {
    int width = 0;
    int height = 0;
};

// The window's outer size at step `zoom`.
SVideoWindowSize VideoWindowSize(int zoom, const SVideoWindowBorders& borders);

// The largest step from 6 down to 1 whose window fits a work area of the given size, or `previous` when
// not even step 1 fits.
int LargestVideoZoom(int workWidth, int workHeight, const SVideoWindowBorders& borders, int previous);
