// The look every window of the program shares: no system frame, the dialog background colour, and a
// window region with rounded corners. A press on the background moves the window, unless a subclass
// says it may not move.
#pragma once

#include <QDialog>
#include <QPoint>

class QHBoxLayout;
class QPushButton;

class CRoundedDialog : public QDialog {
    Q_OBJECT
public:
    explicit CRoundedDialog(QWidget* parent = nullptr);

    // Corner ellipse of the window region (16 x 16).
    static constexpr int kCorner = 16;
    // Sets the colours of every dialog (0xRRGGBB) on the application palette.
    static void SetDialogColors(uint32_t background, uint32_t text);

protected:
    // The OK button (default, accepts) and, when `cancel` is given, a Cancel button (rejects), in a row
    // aligned to the right, or centred.
    QHBoxLayout* MakeButtonRow(QPushButton*& ok, QPushButton** cancel, bool centred = false);

    virtual bool CanMove() const { return true; }
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void UpdateRegion();

    bool m_bDragging = false;
    QPoint m_dragOffset;
};
