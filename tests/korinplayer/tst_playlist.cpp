// The playlist panel over a QMediaPlaylist, and folder scans of generated
// trees into a real player window.
#include "player_test_util.h"
#include "playlistmodel.h"
#include "playlistwidget.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
QStringList names(const QMediaPlaylist& list, int from = 0, bool sorted = false)
{
    QStringList out;
    for (int i = from; i < list.mediaCount(); ++i)
        out << list.media(i).request().url().fileName();
    if (sorted)
        out.sort();
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

void touch(const QString& path)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
}

// Scans folder and waits until every scan of the window has ended.
bool scan(korinplayer& w, const QString& folder, bool recursive)
{
    w.startReadDir(folder, false, recursive);
    return QTest::qWaitFor([&] { return w.dirThreadRunList.isEmpty(); }, 20000);
}
} // namespace

class TestPlaylist : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initPlayerResources(); }

    // The table mirrors the playlist through inserts, scattered removals,
    // opening and clearing; the current item stays the same item.
    void modelAndWidget()
    {
        QMediaPlaylist list;
        PlaylistWidget panel(&list);
        QAbstractItemModelTester tester(panel.getPlaylistModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        panel.show();
        QTableView* view = panel.getTableView();
        PlaylistModel* model = panel.getPlaylistModel();
        QVERIFY(view->horizontalHeader()->isHidden());
        for (const char* n : {"zero.mp4", "one%20x.mp4", "two.mp4", "three.mp4", "four.mp4", "five.mp4", "six.mp4"})
            list.addMedia(QUrl::fromLocalFile("/m/" + QUrl::fromPercentEncoding(n)));
        QVERIFY(!view->horizontalHeader()->isHidden());
        QCOMPARE(model->data(model->index(1, 0)).toString(), QStringLiteral("one x.mp4"));
        QSignalSpy play(&panel, &PlaylistWidget::play);
        panel.openBtn->click(); // no current row
        panel.removeBtn->click(); // nothing selected
        QVERIFY(play.isEmpty() && list.mediaCount() == 7);

        // Rows 4, 1, 2 selected in that order while "five" is current.
        list.setCurrentIndex(5);
        const auto select = [&](std::initializer_list<int> rows) {
            view->clearSelection();
            for (int r : rows)
                view->selectionModel()->select(model->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        };
        select({4, 1, 2});
        panel.removeBtn->click();
        QCOMPARE(names(list), (QStringList{"zero.mp4", "three.mp4", "five.mp4", "six.mp4"}));
        QCOMPARE(list.currentIndex(), 2);
        // Rows after the current one: the current index is announced again.
        QSignalSpy current(&list, &QMediaPlaylist::currentIndexChanged);
        select({3});
        panel.removeBtn->click();
        QVERIFY(list.currentIndex() == 2 && !current.isEmpty() && current.last().at(0).toInt() == 2);
        // The current item itself.
        view->setCurrentIndex(model->index(2, 0));
        panel.removeBtn->click();
        QCOMPARE(names(list), (QStringList{"zero.mp4", "three.mp4"}));
        QCOMPARE(list.currentIndex(), -1);

        view->setCurrentIndex(model->index(1, 0));
        panel.openBtn->click();
        QVERIFY(play.count() == 1 && play.at(0).at(0).toInt() == 1);
        panel.removeAllBtn->click();
        QVERIFY(list.isEmpty() && list.currentIndex() == -1 && view->horizontalHeader()->isHidden());
    }

    // Scans of a generated tree: MIME filter by name, recursion on and off,
    // a link loop, an unreadable folder, names not in the locale's encoding,
    // odd names; each batch at the end of the list.
    void folderScans()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path() + "/tree";
        QVERIFY(QDir().mkpath(root + "/sub/locked"));
        QFile::copy(media("a.mp4"), root + "/a.mp4");
        QFile::copy(media("a.mp4"), root + "/noext"); // video inside, no name
        // b.mp3 is no audio: judged by name.
        for (const char* n : {"b.mp3", "c.txt", "it's \"odd\" name.mkv", "new\nline.ogg", "sub/d.webm",
                              "sub/locked/e.flac"})
            touch(root + "/" + QString::fromUtf8(n));
        const QByteArray raw = QFile::encodeName(root) + "/\xff\xfe-bad.mp3";
        ::close(::open(raw.constData(), O_CREAT | O_WRONLY, 0644));
        QVERIFY(QFile::link(root, root + "/sub/loop"));
        QFile::setPermissions(root + "/sub/locked", QFileDevice::Permissions());
        const auto unlock = qScopeGuard([&] {
            ::unlink(raw.constData()); // a name QDir cannot delete
            QFile::setPermissions(root + "/sub/locked", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });
        const PermissionBits asUser;

        korinplayer w;
        QCOMPARE(w.addToPlaylist(QStringList{media("b.mp4"), media("b.mp4"), media("b.mp4")}), 3);
        QVERIFY(scan(w, root, false));
        QTRY_COMPARE(w.playlist->mediaCount(), 7);
        QCOMPARE(names(*w.playlist, 3, true), (QStringList{"a.mp4", "b.mp3", "it's \"odd\" name.mkv", "new\nline.ogg"}));
        QVERIFY(scan(w, root, true));
        QTRY_VERIFY(w.playlist->mediaCount() > 7);
        // Once each: the loop is not followed, the locked folder not read.
        QCOMPARE(names(*w.playlist, 7, true), (QStringList{"a.mp4", "b.mp3", "d.webm", "it's \"odd\" name.mkv",
                                                           "new\nline.ogg"}));

        // Names whose type the MIME database decides by more than their
        // ending: the scan keeps exactly what the filter accepts.
        const QString odd = tmp.path() + "/odd";
        QVERIFY(QDir().mkpath(odd));
        QStringList expected;
        for (const char* n : {"README.mp3", "makefile.mp4", "clip.MP4", "clip.mp4", "back.mp4~", "x.tar.mp3",
                              "song.mp3.txt", "001.vdr", "a.ogg,v", "b.ogg", "Core", "d.anim1", "\xc3\xa9t\xc3\xa9.flac"}) {
            touch(odd + "/" + QString::fromUtf8(n));
            QFileInfo info(odd + "/" + QString::fromUtf8(n));
            if (ReadDir::identifyFile(info))
                expected << info.fileName();
        }
        QVERIFY(expected.contains("clip.MP4") && !expected.contains("song.mp3.txt"));
        expected.sort();
        const int oddFirst = w.playlist->mediaCount();
        QVERIFY(scan(w, odd, false));
        QTRY_COMPARE(names(*w.playlist, oddFirst, true), expected);

        // Several scans at once over non-ASCII names, which all go through
        // the shared name patterns; a missing folder adds nothing.
        const QString accents = tmp.path() + QString::fromUtf8("/\xc3\xa9t\xc3\xa9");
        QVERIFY(QDir().mkpath(accents));
        for (int i = 0; i < 5000; ++i)
            touch(accents + QString::fromUtf8("/\xc3\xa9t\xc3\xa9_%1.%2").arg(i).arg(i % 1000 ? "dat" : "mp3"));
        for (int n = 0; n < 3; ++n)
            w.startReadDir(accents, false, false);
        QVERIFY(scan(w, root + "/missing", true));
        QTRY_COMPARE(w.playlist->mediaCount(), oddFirst + expected.size() + 3 * 5);
    }

    // Big trees: a folder vanishing during the scan, the watchdog, and
    // closing the window during a scan; nothing reaches the playlist.
    void scanInterrupted()
    {
        QTemporaryDir tmp;
        const QString big = tmp.path() + "/big", gone = tmp.path() + "/gone";
        for (int d = 0; d < 40; ++d) {
            QVERIFY(QDir().mkpath(big + QString("/d%1").arg(d)));
            for (int i = 0; i < 500; ++i)
                touch(big + QString("/d%1/f%2.%3").arg(d).arg(i).arg(i % 10 ? "dat" : "mp4"));
        }
        QVERIFY(QDir().mkpath(gone));
        for (int i = 0; i < 3000; ++i)
            touch(gone + QString("/g%1.mp3").arg(i));

        korinplayer w;
        w.startReadDir(gone, false, true);
        QVERIFY(QDir(gone).removeRecursively());
        QVERIFY(scan(w, gone, true));
        QCoreApplication::processEvents();
        QVERIFY(w.playlist->mediaCount() <= 3000);

        // The watchdog fires (made short here): the scan stops by itself.
        w.playlist->clear();
        w.startReadDir(big, false, true);
        for (QTimer* t : w.findChildren<QTimer*>())
            if (t->interval() == 3000000)
                t->start(0);
        QVERIFY(scan(w, gone, false));
        QCOMPARE(w.playlist->mediaCount(), 0);
        // Unhindered, the same tree gives its 2000 media files.
        QVERIFY(scan(w, big, true));
        QTRY_COMPARE(w.playlist->mediaCount(), 2000);

        // Closing during a scan joins it; its batch never arrives.
        w.playlist->clear();
        w.startReadDir(big, true, true);
        w.startReadDir(big, false, true);
        QVERIFY(w.close());
        QVERIFY(w.dirThreadRunList.isEmpty());
        QCoreApplication::processEvents(); // what the scans had queued
        QCOMPARE(w.playlist->mediaCount(), 0);
    }
};

QTEST_MAIN(TestPlaylist)
#include "tst_playlist.moc"
