// The velaphon program itself: started offscreen with a seeded hive, it opens its main window, saves a
// picture of it and ends by its exit command.
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

class ClientProcessTest : public QObject {
    Q_OBJECT

private slots:
    void opensTheMainWindowAndEnds() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString config = dir.filePath("config");
        QVERIFY(QDir().mkpath(config));
        std::ofstream(config.toStdString() + "/user.hive") << "[Software\\Velaphon\\Settings]\n"
                                                              "\"UserNtv\"=text:\"5550001\"\n"
                                                              "\"CornerPosition\"=dword:3\n";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VELAPHON_CONFIG_DIR", config);
        env.insert("XDG_CONFIG_HOME", dir.filePath("xdg-config"));
        env.insert("XDG_DATA_HOME", dir.filePath("xdg-data"));
        env.insert("VELAPHON_SNAPSHOT", dir.filePath("main.png"));
        env.insert("VELAPHON_EXIT_AFTER_MS", "600");
        QProcess client;
        client.setProcessEnvironment(env);
        client.start(VP_CLIENT_PROGRAM, {});
        QVERIFY(client.waitForStarted());
        QVERIFY2(client.waitForFinished(60000), "the client did not end by itself");
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
        QImage picture(dir.filePath("main.png"));
        QVERIFY(!picture.isNull());
        QVERIFY(picture.width() >= 200 && picture.height() >= 100);
        // Normal mode installed the link handler where the environment said.
        QVERIFY(QFile::exists(dir.filePath("xdg-data/applications/velaphon-url.desktop")));
    }
};

QTEST_MAIN(ClientProcessTest)
#include "ClientProcessTest.moc"
