// CVideoWindow (dialog 170): the peer's picture in a window of its own, in zoom steps of 160 x 120. It has
// no title bar: it is dragged from anywhere and its caption is a label above the picture.
#pragma once

#include <QFont>
#include <QRect>

#include "app/VideoZoom.h"
#include "ui/RoundedDialog.h"
#include "ui/VideoView.h"

class QLabel;
class QPushButton;

class CVideoWindow : public CRoundedDialog {
    Q_OBJECT
public:
    enum { IDD = 170, IDC_CAPTION = 1086, IDC_VIEW = 1117, IDC_ZOOM_IN = 1118, IDC_ZOOM_OUT = 1119 };
    // Between the window's outer edge and the view; the caption and the buttons sit in the top one.
    static constexpr SVideoWindowBorders kBorders{8, 8, 38, 8};

    // Created hidden, as a window of its own over `parent` (the call window).
    explicit CVideoWindow(QWidget* parent = nullptr);

    // For the receiving side. Showing a hidden window starts it at zoom 2, centred on the work area; an
    // open window keeps its zoom and place.
    void ShowAtZoom2();
    // Also forgets the picture, so that the next stream does not open on the last one's.
    void Hide();
    CVideoView* View() const { return m_pView; }

    void ZoomIn();
    void ZoomOut();
    int Zoom() const { return m_nZoom; }
    int MaxZoom() const { return m_nMaxZoom; }

    QPushButton* ZoomInButton() const { return m_pZoomIn; }
    QPushButton* ZoomOutButton() const { return m_pZoomOut; }
    QLabel* Caption() const { return m_pCaption; }

protected:
    // The screen's available geometry; tests give other work areas.
    virtual QRect WorkArea() const;
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    // Escape hides the window; the call goes on.
    void reject() override { hide(); }

private:
    // Size and caption for m_nZoom, kept inside the work area.
    void ApplyZoom();
    void UpdateButtons();
    // The caption in the largest size, up to the dialog font's, that its label shows whole.
    void FitCaption();

    QPushButton* m_pZoomOut = nullptr;
    QPushButton* m_pZoomIn = nullptr;
    CVideoView* m_pView = nullptr;
    QLabel* m_pCaption = nullptr;
    QFont m_CaptionFont;
    int m_nZoom = kVideoZoomOnShow;
    int m_nMaxZoom = 1;
};
