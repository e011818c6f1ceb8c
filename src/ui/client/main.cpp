// velaphon: the desktop client. The program's life is CClientApp::Run; the process ends when it returns.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <string>
#include <vector>

#include "Version.h"
#include "app/ClientApp.h"
#include "platform/StringTable.h"
#include "platform/qt/QtMessagePump.h"
#include "ui/DesktopUi.h"

int main(int argc, char** argv) {
    // Taken before Qt removes its own options from the command line.
    std::vector<std::string> args(argv, argv + argc);
    // Answered without a display.
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--version") {
            std::printf("velaphon %s\n", kVelaphonVersion);
            return 0;
        }
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(LoadString(IDS_CLIENT_USAGE), stdout);
            return 0;
        }
    }
    // The directory's web view shares its GL context with the windows; QtWebEngine needs that said
    // before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("velaphon");
    QApplication::setWindowIcon(QIcon(":/icons/velaphon.svg"));
    CQtMessagePump pump;

    SStartOptions options;
    options.m_args = args;
    options.m_probe.screen = &CDesktopUi::ScreenInfo;
    CDesktopUi ui;
    CClientApp app;
    return app.Run(options, ui);
}
