// Pictures of the windows as users see them, saved under build/<preset>/screenshots for review.
#pragma once

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <filesystem>
#include <string>

namespace guitest {

inline std::string ScreenshotPath(const std::string& name) {
    const std::string dir = std::string(VP_BINARY_DIR) + "/screenshots";
    std::filesystem::create_directories(dir);
    return dir + "/" + name;
}

// Saves the window once its layout has settled and its pending paints are done.
inline void Screenshot(QWidget* w, const std::string& name) {
    QApplication::processEvents();
    w->grab().save(QString::fromStdString(ScreenshotPath(name)));
}

}  // namespace guitest
