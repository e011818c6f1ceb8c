#include "app/MainWindowRules.h"

bool CornerPoint(int corner, const SRect& area, int width, int height, int& x, int& y) {
    const int left = area.x, top = area.y;
    const int right = area.x + area.width - width, bottom = area.y + area.height - height;
    switch (corner) {
        case 0:
            x = left, y = top;
            return true;
        case 1:
            x = right, y = top;
            return true;
        case 2:
            x = left, y = bottom;
            return true;
        case 3:
            x = right, y = bottom;
            return true;
        default:
            return false;
    }
}
