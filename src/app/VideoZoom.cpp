#include "app/VideoZoom.h"

SVideoWindowSize VideoWindowSize(int zoom, const SVideoWindowBorders& borders) {
    return {zoom * kVideoZoomStepWidth + borders.left + borders.right,
            zoom * kVideoZoomStepHeight + borders.top + borders.bottom};
}

int LargestVideoZoom(int workWidth, int workHeight, const SVideoWindowBorders& borders, int previous) {
    for (int zoom = kVideoZoomLargest; zoom >= 1; --zoom) {
        const SVideoWindowSize size = VideoWindowSize(zoom, borders);
        if (size.width <= workWidth && size.height <= workHeight)
            return zoom;
    }
    return previous;
}
