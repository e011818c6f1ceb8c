// Qt's event loop dispatches the platform messages of the UI thread, also inside nested dialogs.
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/Messages.h"
#include "platform/qt/QtMessagePump.h"

class MessagePumpTest : public QObject {
    Q_OBJECT

private slots:
    void postedFromAnotherThreadAreDispatched() {
        CQtMessagePump pump;
        std::vector<WPARAM> seen;
        CFunctionTarget target([&](UINT m, WPARAM w, LPARAM) -> LRESULT {
            if (m == WM_USER) seen.push_back(w);
            return 0;
        });
        std::thread([&] {
            for (WPARAM i = 0; i < 200; ++i) PostMessage(target.GetSafeHwnd(), WM_USER, i, 0);
        }).join();
        QTRY_COMPARE(seen.size(), size_t(200));
        for (WPARAM i = 0; i < 200; ++i) QCOMPARE(seen[i], i);
    }

    void timersFireUnderQt() {
        CQtMessagePump pump;
        int ticks = 0;
        CFunctionTarget target([&](UINT m, WPARAM, LPARAM) -> LRESULT {
            if (m == WM_TIMER) ++ticks;
            return 0;
        });
        SetTimer(target.GetSafeHwnd(), 1, 10);
        QTRY_VERIFY(ticks >= 3);
        KillTimer(target.GetSafeHwnd(), 1);
    }

    void messagesKeepFlowingInsideAModalDialog() {
        CQtMessagePump pump;
        QDialog dialog;
        std::vector<int> seen;
        std::atomic<LRESULT> answer{-1};
        std::thread worker;
        CFunctionTarget target([&](UINT m, WPARAM w, LPARAM) -> LRESULT {
            if (m == WM_TIMER) {
                KillTimer(target.GetSafeHwnd(), 9);
                dialog.accept();
                return 0;
            }
            seen.push_back(static_cast<int>(w));
            if (w == 0) {
                // A handler opens a modal dialog; a worker's send and post must still be handled.
                worker = std::thread([&] {
                    answer = SendMessage(target.GetSafeHwnd(), WM_USER, 1, 0);
                    PostMessage(target.GetSafeHwnd(), WM_USER, 2, 0);
                });
                dialog.exec();
                seen.push_back(100);
            } else if (w == 1) {
                return 41;
            } else if (w == 2) {
                SetTimer(target.GetSafeHwnd(), 9, 5);  // the timer closes the dialog
            }
            return 0;
        });
        PostMessage(target.GetSafeHwnd(), WM_USER, 0, 0);
        QTRY_COMPARE(seen, (std::vector<int>{0, 1, 2, 100}));
        QCOMPARE(answer.load(), LRESULT(41));
        worker.join();
    }
};

QTEST_MAIN(MessagePumpTest)
#include "MessagePumpTest.moc"
