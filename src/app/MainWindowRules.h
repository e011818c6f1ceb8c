// The main window's rules that need no screen: where a corner places it, what its close button does,
// and when the tray menu may open.
#pragma once

struct SRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// The top-left point of a window of `width` x `height` in `corner` of `workArea`: 0 top-left,
// 1 top-right, 2 bottom-left, 3 bottom-right. False for any other value (the window stays put).
bool CornerPoint(int corner, const SRect& workArea, int width, int height, int& x, int& y);

// Whether the user may move the window: only when it is not locked to a corner (-1).
inline bool IsMovable(int corner) {
    return corner == -1;
}

enum class ECloseAction { Minimize, AskToExit };
inline ECloseAction CloseAction(bool minimizeOnClose) {
    return minimizeOnClose ? ECloseAction::Minimize : ECloseAction::AskToExit;
}

inline bool TrayMenuAllowed(bool dynamic, bool minimizeOnClose, bool propertiesOpen) {
    return !dynamic && minimizeOnClose && !propertiesOpen;
}
