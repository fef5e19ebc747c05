// Start-up: camera discovery on a folder standing in for /dev, and the
// environment defaults.
#include <QtTest>
#include <sys/stat.h>

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
        int first = 42;
        QVERIFY(QFile::link(dev.filePath("missing"), dev.filePath("video0"))); // dangling: cannot be opened
        for (const char* n : {"video12", "video3", "video16", "video01", "videox", "audio1"})
            QCOMPARE(mkfifo(QFile::encodeName(dev.filePath(n)).constData(), 0600), 0);
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
