// A Qt slider behind a mixer fader: the fader sets the slider's range, position and enabled state, and
// the user's moves reach the fader as a trackbar's scroll codes. Dragging, wheel and page clicks set
// the volume at once; arrow keys, Home and End only when the key is released.
#pragma once

#include <QObject>
#include <QPointer>

#include "audio/MixerFader.h"

class QSlider;

class CSliderFaderAdapter : public QObject, public IFaderSlider {
public:
    // Attaches itself to the fader, which must outlive the adapter. A vertical slider is turned to show
    // its minimum at the top, as the fader counts. When the slider goes first, the fader closes.
    CSliderFaderAdapter(QSlider* pSlider, CMixerFader* pFader, QObject* parent = nullptr);
    ~CSliderFaderAdapter() override;

    void SetRange(int minimum, int maximum, bool redraw) override;
    int GetRangeMin() const override;
    int GetRangeMax() const override;
    int GetPos() const override;
    void SetPos(int pos, bool redraw) override;
    bool IsVertical() const override;
    void Enable(bool enable) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnAction(int action);
    void OnSliderGone();

    QPointer<QSlider> m_pSlider;
    CMixerFader* m_pFader;
};
