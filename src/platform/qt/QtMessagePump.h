// Lets Qt's event loop dispatch the platform messages of the thread it runs on (the user-interface
// thread), including inside QDialog::exec() and every other nested loop.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>

class CQtMessagePump : public QObject {
    Q_OBJECT
public:
    // Installs itself on the calling thread's message queue; create one on the UI thread after QApplication.
    explicit CQtMessagePump(QObject* parent = nullptr);
    ~CQtMessagePump() override;

protected:
    bool event(QEvent* e) override;

private:
    void Wake();
    void Drain();

    QTimer m_timer;  // fires when the next platform timer is due
    std::atomic<bool> m_bWakePending{false};
};
