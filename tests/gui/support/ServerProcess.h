// velaphond as a child process for window tests, waited on while Qt's events keep flowing. Needs
// vp_server and vp_test_support.
#pragma once

#include <QElapsedTimer>
#include <QTest>
#include <string>
#include <vector>

#include "support/AccountSeed.h"
#include "support/Process.h"

namespace guitest {

// velaphond on ADDRESS:443 over a fresh database holding the users. Another run of the same test
// elsewhere may hold the address for a while: it is waited for.
class CServerProcess {
public:
    CServerProcess(const std::string& program, const std::string& db, const std::string& address,
                   const std::vector<vp::test::SUser>& users) {
        if (!vp::test::SeedDatabase(db, users))
            return;
        QElapsedTimer waited;
        waited.start();
        while (!m_bStarted && waited.elapsed() < 90000) {
            m_Process.Start(
                {program, "serve", "--db", db, "--listen", address + ":443", "--http", address + ":0"},
                vp::test::CChildProcess::kErr);
            m_bStarted = WaitForLog("listening ");
            if (!m_bStarted) {
                m_Process.Wait(5000);
                if (!Logged("Address already in use"))
                    break;
                QTest::qWait(200);
            }
        }
    }
    bool Started() const { return m_bStarted; }
    // Waits for a log line holding the text while Qt's events are dispatched.
    bool WaitForLog(const std::string& text, int timeoutMs = 15000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (Logged(text))
                return true;
            if (m_Process.StreamsEnded())
                return Logged(text);
            QTest::qWait(20);
        }
        return false;
    }

private:
    bool Logged(const std::string& text) {
        return m_Process.Count(text, vp::test::CChildProcess::EMatch::Substring) > 0;
    }

    vp::test::CChildProcess m_Process;
    bool m_bStarted = false;
};

}  // namespace guitest
