// velaphon: the desktop client. The program's life is CClientApp::Run; the process ends when it returns.
#include <QApplication>
#include <QIcon>
#include <string>
#include <vector>

#include "app/ClientApp.h"
#include "platform/qt/QtMessagePump.h"
#include "ui/DesktopUi.h"

int main(int argc, char** argv) {
    // Taken before Qt removes its own options from the command line.
    std::vector<std::string> args(argv, argv + argc);
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
