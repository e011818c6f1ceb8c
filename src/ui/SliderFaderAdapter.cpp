#include "ui/SliderFaderAdapter.h"

#include <QKeyEvent>
#include <QSlider>

CSliderFaderAdapter::CSliderFaderAdapter(QSlider* pSlider, CMixerFader* pFader, QObject* parent)
    : QObject(parent), m_pSlider(pSlider), m_pFader(pFader) {
    if (m_pSlider != nullptr) {
        if (m_pSlider->orientation() == Qt::Vertical) {
            // Minimum at the top, and the arrow keys moving the thumb the way they point.
            m_pSlider->setInvertedAppearance(true);
            m_pSlider->setInvertedControls(true);
        }
        connect(m_pSlider, &QAbstractSlider::actionTriggered, this, &CSliderFaderAdapter::OnAction);
        connect(m_pSlider, &QAbstractSlider::sliderReleased, this, [this] {
            if (m_pFader != nullptr)
                m_pFader->OnScroll(TB_ENDTRACK);
        });
        connect(m_pSlider, &QObject::destroyed, this, &CSliderFaderAdapter::OnSliderGone);
        m_pSlider->installEventFilter(this);
    }
    if (m_pFader != nullptr)
        m_pFader->Attach(this);
}

CSliderFaderAdapter::~CSliderFaderAdapter() {
    if (m_pSlider != nullptr)
        m_pSlider->removeEventFilter(this);
    if (m_pFader != nullptr && m_pFader->GetSlider() == this)
        m_pFader->Attach(nullptr);
}

void CSliderFaderAdapter::OnSliderGone() {
    m_pSlider = nullptr;
    if (m_pFader != nullptr && m_pFader->GetSlider() == this)
        m_pFader->OnDestroy();
}

void CSliderFaderAdapter::OnAction(int action) {
    if (m_pFader == nullptr)
        return;
    // The slider's position already holds the outcome of the action (its value not yet).
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            m_pFader->OnScroll(TB_LINEDOWN);
            break;
        case QAbstractSlider::SliderSingleStepSub:
            m_pFader->OnScroll(TB_LINEUP);
            break;
        case QAbstractSlider::SliderPageStepAdd:
            m_pFader->OnScroll(TB_PAGEDOWN);
            break;
        case QAbstractSlider::SliderPageStepSub:
            m_pFader->OnScroll(TB_PAGEUP);
            break;
        case QAbstractSlider::SliderToMinimum:
            m_pFader->OnScroll(TB_TOP);
            break;
        case QAbstractSlider::SliderToMaximum:
            m_pFader->OnScroll(TB_BOTTOM);
            break;
        case QAbstractSlider::SliderMove:
            m_pFader->OnScroll(TB_THUMBTRACK);
            break;
        default:
            break;
    }
}

bool CSliderFaderAdapter::eventFilter(QObject* watched, QEvent* event) {
    // A key's move is over when the key comes up; other keys (Tab into the slider) move nothing.
    if (watched == m_pSlider && event->type() == QEvent::KeyRelease && m_pFader != nullptr) {
        const auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
            case Qt::Key_Left:
            case Qt::Key_Right:
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
            case Qt::Key_Home:
            case Qt::Key_End:
                if (!key->isAutoRepeat())
                    m_pFader->OnScroll(TB_ENDTRACK);
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void CSliderFaderAdapter::SetRange(int minimum, int maximum, bool) {
    if (m_pSlider != nullptr)
        m_pSlider->setRange(minimum, maximum);
}

int CSliderFaderAdapter::GetRangeMin() const {
    return m_pSlider != nullptr ? m_pSlider->minimum() : 0;
}

int CSliderFaderAdapter::GetRangeMax() const {
    return m_pSlider != nullptr ? m_pSlider->maximum() : 0;
}

int CSliderFaderAdapter::GetPos() const {
    return m_pSlider != nullptr ? m_pSlider->sliderPosition() : 0;
}

void CSliderFaderAdapter::SetPos(int pos, bool) {
    // While the user holds the thumb it stays under the pointer.
    if (m_pSlider != nullptr && !m_pSlider->isSliderDown())
        m_pSlider->setValue(pos);
}

bool CSliderFaderAdapter::IsVertical() const {
    return m_pSlider != nullptr && m_pSlider->orientation() == Qt::Vertical;
}

void CSliderFaderAdapter::Enable(bool enable) {
    if (m_pSlider != nullptr)
        m_pSlider->setEnabled(enable);
}
