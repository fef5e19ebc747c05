// Start-up: camera discovery on a folder standing in for /dev, and the
// environment defaults.
#include <QtTest>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "startup.h"

class TestCameraStartup : public QObject
{
    Q_OBJECT

private slots:
    // Camera nodes: only video0..video15 that open; the id sent is N of the
    // lowest openable videoN, whatever the listing order.
    void cameraDiscovery()
    {
        QTemporaryDir dev;
        auto fifo = [&](const char* n) { QCOMPARE(mkfifo(QFile::encodeName(dev.filePath(n)).constData(), 0600), 0); };
        // A socket node cannot be opened.
        auto sock = [&](const char* n) {
            int s = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un a;
            memset(&a, 0, sizeof a);
            a.sun_family = AF_UNIX;
            strncpy(a.sun_path, QFile::encodeName(dev.filePath(n)).constData(), sizeof a.sun_path - 1);
            QCOMPARE(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
            ::close(s);
        };
        int first = 42;
        sock("video0");
        QVERIFY(QFile::link(dev.filePath("missing"), dev.filePath("video2"))); // dangling
        fifo("video12");
        fifo("video3");
        fifo("video16");
        fifo("video01");
        fifo("videox");
        fifo("audio1");
        QStringList cams = findCameras(dev.path(), &first);
        cams.sort();
        QCOMPARE(cams, QStringList({dev.path() + "/video12", dev.path() + "/video3"}));
        QCOMPARE(first, 3);

        // A /dev that cannot be listed.
        QCOMPARE(findCameras("/nonexistent-dev-dir", &first), QStringList());
        QCOMPARE(first, -1);
    }

    // Defaults fill only names that are missing; a name set empty stays.
    void environment()
    {
        qunsetenv("DISPLAY");
        qputenv("COLORKEY", "");
        completeEnvironment();
        QCOMPARE(qgetenv("DISPLAY"), QByteArray(":0"));
        QVERIFY(qEnvironmentVariableIsSet("COLORKEY") && qgetenv("COLORKEY").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCameraStartup)
#include "tst_camera_startup.moc"
