// CTaskbarNotifier: a small frameless pop-up above the notification area (the bottom-right corner of the
// work area). It slides in over the appear time, stays, and slides out over the hide time; a click
// posts WM_TASKBARNOTIFIERCLICKED to its notify window and hides it. It never takes the activation, so
// the window that was active stays active.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "platform/Messages.h"

inline const UINT WM_TASKBARNOTIFIERCLICKED = RegisterWindowMessage("WM_TASKBARNOTIFIERCLICKED");

class QLabel;

class CTaskbarNotifier : public QWidget {
    Q_OBJECT
public:
    enum class EPhase { Hidden, Appearing, Staying, Hiding };

    explicit CTaskbarNotifier(HWND notify, QWidget* parent = nullptr);

    // Text font and size in tenths of a point (90: 9 pt), as the main window asks for it.
    void SetTextFont(const QString& family, int tenthsOfPoint);
    // Shows the text (a pop-up already up shows the new text and starts over). `step` is the number of
    // pixels the window moves per animation tick (at least 1).
    void Show(const QString& text, int appearMs, int stayMs, int hideMs, int step = 1);
    void Hide();

    EPhase Phase() const { return m_ePhase; }
    QString Text() const;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void Tick();
    // Places the window with `shown` pixels of its height above the bottom of the work area.
    void Place(int shown);

    HWND m_hWndNotify;
    QLabel* m_pTitle;
    QLabel* m_pText;
    QTimer m_Timer;
    QElapsedTimer m_Clock;
    EPhase m_ePhase = EPhase::Hidden;
    int m_nAppearMs = 0, m_nStayMs = 0, m_nHideMs = 0, m_nStep = 1;
    int m_nShown = 0;
};
