#include "platform/qt/QtMessagePump.h"

#include <QCoreApplication>
#include <QEvent>

#include "platform/Messages.h"

namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
// Messages handled per turn before Qt gets its own events back.
constexpr int kBatch = 64;

}  // namespace

CQtMessagePump::CQtMessagePump(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CQtMessagePump::Drain);
    SetThreadWakeHook([this] { Wake(); });
    Wake();
}

CQtMessagePump::~CQtMessagePump() { SetThreadWakeHook(nullptr); }

void CQtMessagePump::Wake() {
    if (!m_bWakePending.exchange(true)) QCoreApplication::postEvent(this, new QEvent(kWakeEvent));
}

bool CQtMessagePump::event(QEvent* e) {
    if (e->type() == kWakeEvent) {
        m_bWakePending = false;
        Drain();
        return true;
    }
    return QObject::event(e);
}

void CQtMessagePump::Drain() {
    if (DispatchPendingMessages(kBatch) == kBatch) Wake();  // more may wait: come back after Qt's events
    const int ms = MillisecondsToNextTimer();
    if (ms < 0) {
        m_timer.stop();
    } else {
        m_timer.start(ms);
    }
}
