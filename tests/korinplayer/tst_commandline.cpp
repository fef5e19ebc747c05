// korinplayer started as a user starts it: files, folders and "-r" on the
// command line, read from what the program reports it plays.
#include "player_test_util.h"

#include <QProcess>

namespace {
QString url(const char* name)
{
    return QUrl::fromLocalFile(media(name)).toString();
}

class Player
{
public:
    explicit Player(const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        proc.setProcessEnvironment(env);
        proc.setProcessChannelMode(QProcess::SeparateChannels);
        proc.start(KORINPLAYER_BIN, args);
    }
    ~Player()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }
    // Items in the order they started to play.
    QStringList playing()
    {
        log += proc.readAllStandardError();
        QStringList out;
        for (const QByteArray& line : log.split('\n')) {
            const int at = line.indexOf("Now playing:\t");
            if (at >= 0)
                out << QString::fromUtf8(line.mid(at + 13)).trimmed();
        }
        return out;
    }
    QProcess proc;
    QByteArray log;
};
} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    // Files first in argument order, then the folders; "-r" after a folder
    // still makes its scan recursive; a missing path is skipped; only
    // audio and video files are taken from a folder.
    void filesThenFolders()
    {
        Player p({media("missing.mp4"), media("dir"), "-r", media("b.mp4")});
        QVERIFY(p.proc.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(p.playing().size() >= 3, 30000);
        QStringList played = p.playing().mid(0, 3);
        QCOMPARE(played.takeFirst(), url("b.mp4"));
        played.sort(); // the folder in the order it lists its entries
        QCOMPARE(played, (QStringList{url("dir/c.mp4"), url("dir/sub/d.mp4")}));
        QTest::qWait(2000);
        QCOMPARE(p.playing().size(), 3); // the list ends: nothing more
        QVERIFY(!p.log.contains("notes.txt"));
        QCOMPARE(p.proc.state(), QProcess::Running);
    }

    // A folder alone starts with its first item; without "-r" the subfolder
    // is left out.
    void folderAlone()
    {
        Player p({media("dir")});
        QVERIFY(p.proc.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(p.playing().size() >= 1, 30000);
        QCOMPARE(p.playing().first(), url("dir/c.mp4"));
        QTRY_VERIFY_WITH_TIMEOUT((p.playing(), p.log.contains("play next")), 10000);
        QTest::qWait(1500);
        QCOMPARE(p.playing(), QStringList{url("dir/c.mp4")});
    }

    // Nothing to play: the window stays open and plays nothing; garbage
    // arguments change that neither.
    void nothingToPlay()
    {
        for (const QStringList& args : {QStringList{}, QStringList{"-r", media("nowhere"), "--bogus"}}) {
            Player p(args);
            QVERIFY(p.proc.waitForStarted());
            QTest::qWait(2500);
            QCOMPARE(p.proc.state(), QProcess::Running);
            QVERIFY(p.playing().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
