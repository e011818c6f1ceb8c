// CKeypadWindow (dialog 150): the numeric keypad docked beside the main window. Digits come from its
// buttons and from both keyboards; Call hands the number to call control and empties the keypad.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <functional>
#include <string>

#include "app/KeypadNumber.h"
#include "ui/RoundedDialog.h"

class QLabel;
class QPushButton;

class CKeypadWindow : public CRoundedDialog {
    Q_OBJECT
public:
    enum { IDD = 150 };
    enum { IDC_CLEAR = 1084 };
    // Between the keypad and the main window.
    static constexpr int kDockGap = 3;

    // Docks beside `anchor` (the main window) and follows it.
    explicit CKeypadWindow(QWidget* anchor);
    ~CKeypadWindow() override;

    // Call places the call through this (call control's PlaceCall).
    void SetCallHandler(std::function<void(const std::string&)> handler) { m_onCall = std::move(handler); }

    // Top level with the anchor; to its right with the gap, or to its left when the right side would pass
    // the screen's right edge.
    static QPoint DockPosition(const QRect& anchor, const QSize& keypad, const QRect& screen);
    void Dock();

    void AppendDigit(char digit);
    void Backspace();
    void Clear();
    void Call();

    const std::string& Number() const { return m_Number.Get(); }
    QLabel* Display() const { return m_pDisplay; }
    QPushButton* DigitButton(int digit) const { return m_pDigits[digit]; }
    QPushButton* CallButton() const { return m_pCall; }
    QPushButton* ClearButton() const { return m_pClear; }
    QPushButton* BackspaceButton() const { return m_pBack; }

signals:
    void Hidden();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    // Escape hides the keypad rather than ending anything.
    void reject() override { hide(); }

private:
    void UpdateDisplay();

    QWidget* m_pAnchor;
    CKeypadNumber m_Number;
    std::function<void(const std::string&)> m_onCall;
    QLabel* m_pDisplay = nullptr;
    QPushButton* m_pDigits[10] = {};
    QPushButton* m_pBack = nullptr;
    QPushButton* m_pClear = nullptr;
    QPushButton* m_pCall = nullptr;
};
