// CGeneralPage (dialog 148): the window options of the properties sheet. "Lock on corner" with one of
// four corners, each corner with a picture of a screen whose window sits there; only the chosen
// corner's picture is shown.
#pragma once

#include <QWidget>
#include <array>

#include "app/PropertiesValues.h"

class CClientApp;
class QCheckBox;
class QLabel;
class QRadioButton;

class CGeneralPage : public QWidget {
    Q_OBJECT
public:
    enum { IDD = 148 };
    enum : int {
        IDC_START_ON_INIT = 1022,
        IDC_ALWAYS_ON_TOP = 1023,
        IDC_START_MINIMIZED = 1024,
        IDC_MINIMIZE_ON_CLOSE = 1026,
        IDC_LOCK_CORNER = 1027,
        IDC_LEFT_UP = 1093,  // then right up, left down, right down
        IDC_PICTURE_LEFT_UP = 1097,
    };

    CGeneralPage(CClientApp& app, QWidget* parent);
    void Store(SPropertiesValues& values) const;

    QCheckBox* StartOnInitBox() const { return m_pStartOnInit; }
    QCheckBox* AlwaysOnTopBox() const { return m_pAlwaysOnTop; }
    QCheckBox* StartMinimizedBox() const { return m_pStartMinimized; }
    QCheckBox* MinimizeOnCloseBox() const { return m_pMinimizeOnClose; }
    QCheckBox* LockBox() const { return m_pLock; }
    // 0 left up, 1 right up, 2 left down, 3 right down.
    QRadioButton* CornerButton(int corner) const { return m_corners[static_cast<size_t>(corner)]; }
    QLabel* CornerPicture(int corner) const { return m_pictures[static_cast<size_t>(corner)]; }

private:
    void OnLockToggled(bool locked);
    void ShowCorner(int corner);  // -1 hides every picture

    QCheckBox* m_pStartOnInit;
    QCheckBox* m_pAlwaysOnTop;
    QCheckBox* m_pStartMinimized;
    QCheckBox* m_pMinimizeOnClose;
    QCheckBox* m_pLock;
    std::array<QRadioButton*, 4> m_corners{};
    std::array<QLabel*, 4> m_pictures{};
};
