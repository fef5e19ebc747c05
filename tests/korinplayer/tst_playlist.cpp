// The playlist panel over a QMediaPlaylist, and folder scans of generated
// trees into a real player window.
#include "player_test_util.h"
#include "playlistmodel.h"
#include "playlistwidget.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QScopeGuard>
#include <QTableView>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
QStringList names(const QMediaPlaylist& list, int from = 0)
{
    QStringList out;
    for (int i = from; i < list.mediaCount(); ++i)
        out << list.media(i).request().url().fileName();
    return out;
}

// Root reads every folder: while this lives, the calling thread and the
// threads it starts are held to the permission bits like any user.
struct PermissionBits {
    __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    PermissionBits()
    {
        ::syscall(SYS_capget, &head, saved);
        __user_cap_data_struct less[2] = {saved[0], saved[1]};
        less[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ::syscall(SYS_capset, &head, less);
    }
    ~PermissionBits() { ::syscall(SYS_capset, &head, saved); }
};

void touch(const QString& path, const QByteArray& content = QByteArray())
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(content);
}
} // namespace

class TestPlaylist : public QObject
{
    Q_OBJECT

    // Waits until every scan of the window has ended.
    static bool scansDone(korinplayer& w, int ms = 20000)
    {
        return QTest::qWaitFor([&] { return w.dirThreadRunList.isEmpty(); }, ms);
    }

private slots:
    void initTestCase() { initPlayerResources(); }

    // The table mirrors the playlist through inserts, scattered removals,
    // opening and clearing; the current item stays the same item.
    void modelAndWidget()
    {
        QMediaPlaylist list;
        PlaylistWidget panel(&list);
        QAbstractItemModelTester tester(panel.getPlaylistModel(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        panel.show();
        QTableView* view = panel.getTableView();
        QHeaderView* header = view->horizontalHeader();
        QVERIFY(header->isHidden());
        for (const char* n : {"zero.mp4", "one%20x.mp4", "two.mp4", "three.mp4", "four.mp4", "five.mp4", "six.mp4"})
            list.addMedia(QUrl::fromLocalFile(QStringLiteral("/m/") + QUrl::fromPercentEncoding(n)));
        QVERIFY(!header->isHidden());
        PlaylistModel* model = panel.getPlaylistModel();
        QCOMPARE(model->rowCount(), 7);
        QCOMPARE(model->data(model->index(1, 0)).toString(), QStringLiteral("one x.mp4"));

        QSignalSpy play(&panel, &PlaylistWidget::play);
        panel.openBtn->click(); // no current row
        panel.removeBtn->click(); // nothing selected
        QVERIFY(play.isEmpty() && list.mediaCount() == 7);

        // Rows 4, 1, 2 selected in that order while "five" is current.
        list.setCurrentIndex(5);
        auto* sel = view->selectionModel();
        for (int r : {4, 1, 2})
            sel->select(model->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        panel.removeBtn->click();
        QCOMPARE(names(list), (QStringList{"zero.mp4", "three.mp4", "five.mp4", "six.mp4"}));
        QCOMPARE(list.currentIndex(), 2);

        // Rows after the current one: the current index is announced again.
        QSignalSpy current(&list, &QMediaPlaylist::currentIndexChanged);
        view->clearSelection();
        sel->select(model->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        panel.removeBtn->click();
        QCOMPARE(list.currentIndex(), 2);
        QVERIFY(!current.isEmpty() && current.last().at(0).toInt() == 2);

        // The current item itself.
        view->setCurrentIndex(model->index(2, 0));
        panel.removeBtn->click();
        QCOMPARE(names(list), (QStringList{"zero.mp4", "three.mp4"}));
        QCOMPARE(list.currentIndex(), -1);

        view->setCurrentIndex(model->index(1, 0));
        panel.openBtn->click();
        QCOMPARE(play.count(), 1);
        QCOMPARE(play.at(0).at(0).toInt(), 1);
        panel.removeAllBtn->click();
        QVERIFY(list.isEmpty() && list.currentIndex() == -1 && header->isHidden());
    }

    // Scans of a generated tree: MIME filter by name, recursion on and off,
    // a link loop, an unreadable folder, odd names, batch at the end of the
    // list.
    void folderScans()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path() + QStringLiteral("/tree");
        QVERIFY(QDir().mkpath(root + QStringLiteral("/sub/locked")));
        QFile::copy(media("a.mp4"), root + QStringLiteral("/a.mp4"));
        QFile::copy(media("a.mp4"), root + QStringLiteral("/noext")); // video inside, no name
        // b.mp3 is no audio: judged by name.
        for (const char* n :
             {"b.mp3", "c.txt", "it's \"odd\" name.mkv", "new\nline.ogg", "sub/d.webm", "sub/locked/e.flac"})
            touch(root + QLatin1Char('/') + QString::fromUtf8(n));
        const QByteArray raw = QFile::encodeName(root) + "/\xff\xfe-bad.mp3";
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        QString deep = root + QStringLiteral("/sub");
        for (int i = 0; i < 40; ++i)
            deep += QStringLiteral("/d") + QString::number(i);
        QVERIFY(QDir().mkpath(deep));
        touch(deep + QStringLiteral("/deep.wav"));
        QVERIFY(QFile::link(root, root + QStringLiteral("/sub/loop")));
        QFile::setPermissions(root + QStringLiteral("/sub/locked"), QFileDevice::Permissions());
        const auto unlock = qScopeGuard([&] {
            ::unlink(raw.constData()); // a name QDir cannot delete
            QFile::setPermissions(root + QStringLiteral("/sub/locked"),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });
        const PermissionBits asUser;
        QVERIFY(QDir(root + QStringLiteral("/sub/locked")).entryList(QDir::Files).isEmpty());

        korinplayer w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.addToPlaylist(QStringList{media("b.mp4"), media("b.mp4"), media("b.mp4")}), 3);

        w.startReadDir(root, false, false);
        QVERIFY(scansDone(w));
        QTRY_COMPARE(w.playlist->mediaCount(), 7);
        QStringList flat = names(*w.playlist, 3);
        flat.sort();
        QCOMPARE(flat, (QStringList{"a.mp4", "b.mp3", "it's \"odd\" name.mkv", "new\nline.ogg"}));

        const int before = w.playlist->mediaCount();
        w.startReadDir(root, false, true);
        QVERIFY(scansDone(w));
        QTRY_VERIFY(w.playlist->mediaCount() > before);
        const QStringList rec = names(*w.playlist, before);
        for (const char* n : {"a.mp4", "b.mp3", "d.webm", "deep.wav", "new\nline.ogg"})
            QVERIFY2(rec.count(QString::fromUtf8(n)) == 1, n); // once: the loop is not followed
        QVERIFY(!rec.contains("c.txt") && !rec.contains("noext"));
        QVERIFY(!rec.contains("e.flac"));

        // Names whose type the MIME database decides by more than their
        // ending: the scan keeps exactly what the filter accepts.
        const QString odd = tmp.path() + QStringLiteral("/odd");
        QVERIFY(QDir().mkpath(odd));
        QStringList expected;
        for (const char* n : {"README.mp3", "makefile.mp4", "clip.MP4", "clip.mp4", "back.mp4~", "x.tar.mp3",
                              "song.mp3.txt", "001.vdr", "a.ogg,v", "b.ogg", "Core", "d.anim1", "\xc3\xa9t\xc3\xa9.flac"}) {
            const QString path = odd + QLatin1Char('/') + QString::fromUtf8(n);
            touch(path);
            QFileInfo info(path);
            if (ReadDir::identifyFile(info))
                expected << info.fileName();
        }
        QVERIFY(expected.contains("clip.MP4") && expected.contains(QString::fromUtf8("\xc3\xa9t\xc3\xa9.flac")));
        QVERIFY(!expected.contains("song.mp3.txt"));
        const int oddFirst = w.playlist->mediaCount();
        w.startReadDir(odd, false, false);
        QVERIFY(scansDone(w, 5000));
        QTRY_VERIFY(w.playlist->mediaCount() > oddFirst);
        QStringList got = names(*w.playlist, oddFirst);
        got.sort();
        expected.sort();
        QCOMPARE(got, expected);

        // A missing folder ends at once and inserts nothing.
        w.startReadDir(root + QStringLiteral("/missing"), true, true);
        QVERIFY(scansDone(w, 5000));
        const int many = oddFirst + expected.size();
        QCOMPARE(w.playlist->mediaCount(), many);

        // Scans at once over non-ASCII names, which all go through the
        // shared name patterns.
        const QString accents = tmp.path() + QString::fromUtf8("/\xc3\xa9t\xc3\xa9");
        QVERIFY(QDir().mkpath(accents));
        for (int i = 0; i < 5000; ++i)
            touch(accents + QString::fromUtf8("/\xc3\xa9t\xc3\xa9_%1.%2").arg(i).arg(i % 1000 ? "dat" : "mp3"));
        for (int n = 0; n < 4; ++n)
            w.startReadDir(accents, false, false);
        QVERIFY(scansDone(w));
        QTRY_COMPARE(w.playlist->mediaCount(), many + 4 * 5);
    }

    // Big trees: a folder vanishing during the scan, the watchdog, and
    // closing the window during a scan; nothing reaches the playlist and
    // the window keeps answering.
    void scanInterrupted()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path();
        for (int d = 0; d < 40; ++d) {
            const QString dir = root + QStringLiteral("/big/d%1").arg(d);
            QVERIFY(QDir().mkpath(dir));
            for (int i = 0; i < 500; ++i)
                touch(dir + QStringLiteral("/f%1.%2").arg(i).arg(i % 10 ? "dat" : "mp4"));
        }
        QVERIFY(QDir().mkpath(root + QStringLiteral("/gone")));
        for (int i = 0; i < 3000; ++i)
            touch(root + QStringLiteral("/gone/g%1.mp3").arg(i));

        korinplayer w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        w.startReadDir(root + QStringLiteral("/gone"), false, true);
        QVERIFY(QDir(root + QStringLiteral("/gone")).removeRecursively());
        QVERIFY(scansDone(w, 10000));
        QCoreApplication::processEvents();
        QVERIFY(w.playlist->mediaCount() <= 3000);

        // The watchdog fires (made short here): the scan stops by itself.
        w.playlist->clear();
        w.startReadDir(root + QStringLiteral("/big"), false, true);
        QTimer* watchdog = nullptr;
        for (QTimer* t : w.findChildren<QTimer*>())
            if (t->interval() == 3000000)
                watchdog = t;
        QVERIFY(watchdog);
        watchdog->start(0);
        QVERIFY(scansDone(w, 10000));
        QCOMPARE(w.playlist->mediaCount(), 0);

        // Unhindered, the same tree gives its 2000 media files.
        w.startReadDir(root + QStringLiteral("/big"), false, true);
        QVERIFY(scansDone(w));
        QTRY_COMPARE(w.playlist->mediaCount(), 2000);

        // Closing during a scan joins it; its batch never arrives.
        w.playlist->clear();
        w.startReadDir(root + QStringLiteral("/big"), true, true);
        w.startReadDir(root + QStringLiteral("/big"), false, true);
        QVERIFY(w.close());
        QVERIFY(w.dirThreadRunList.isEmpty());
        QCoreApplication::processEvents(); // what the scans had queued
        QCOMPARE(w.playlist->mediaCount(), 0);
    }
};

QTEST_MAIN(TestPlaylist)
#include "tst_playlist.moc"
