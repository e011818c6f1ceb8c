// What the directory's window tests share: velaphond over users with directory profiles, and scripts run
// in the loaded page.
#pragma once

#include <QElapsedTimer>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <string>
#include <vector>

#include "server/AccountStore.h"
#include "support/Process.h"

namespace dirtest {

struct SProfiled {
    const char *ntv, *name, *country, *city, *gender, *language, *keywords;
};

// velaphond on ADDRESS:443 over the users (password "pw"); the directory's address once it listens,
// else "". Another run of the same test elsewhere may hold the address for a while: it is waited for.
inline std::string StartServer(vp::test::CChildProcess& server, const std::string& db,
                               const std::string& address, const std::vector<SProfiled>& users) {
    CAccountStore store;
    if (!store.Open(db, true))
        return {};
    for (const SProfiled& u : users) {
        CUserProfile p{u.ntv, u.name, u.country, u.city, u.gender, u.language, u.keywords};
        if (store.AddUser(p, "pw", EHashCost::Minimal) != CAccountStore::EResult::Done)
            return {};
    }
    std::string line;
    QElapsedTimer waited;
    waited.start();
    while (line.empty() && waited.elapsed() < 90000) {
        if (!server.Start({VP_SERVER_PROGRAM, "serve", "--db", db, "--listen", address + ":443", "--http",
                           address + ":0"},
                          vp::test::CChildProcess::kErr))
            return {};
        if (server.WaitLine("listening ", vp::test::CChildProcess::EMatch::Substring, 20000, &line))
            break;
        server.Wait(5000);
        if (server.Count("Address already in use", vp::test::CChildProcess::EMatch::Substring) == 0)
            return {};
        QTest::qWait(200);
    }
    size_t at = line.find(" http ");
    return at == std::string::npos ? std::string() : "http://" + line.substr(at + 6) + "/directory";
}

// What a script in the page gives back, waited for while events flow.
inline QVariant RunJs(QWebEnginePage* page, const QString& script) {
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        return QVariant();
    return result;
}

// The NTV column of the result table, joined by commas.
inline QString ListedNtvs(QWebEnginePage* page) {
    return RunJs(page,
                 "Array.from(document.querySelectorAll('tr td:nth-child(2)')).map(t => "
                 "t.textContent).join(',')")
        .toString();
}

}  // namespace dirtest
