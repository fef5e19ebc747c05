// The player's command line, read by a window in this process: the
// application gets the arguments a user would type, the test runner only
// its own.
#include "player_test_util.h"

#include <QMenu>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initPlayerResources(); }

    // Files first, then the folders; "-r" after a folder still makes its
    // scan recursive and shows in the menu; a missing path is skipped
    // without a word; a folder's text file is left out.
    void filesThenFolders()
    {
        BoxCloser closer;
        korinplayer w;
        QSignalSpy titles(&w, &QWidget::windowTitleChanged);
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.playlist->mediaCount() == 3 && titles.count() > 0, 20000);
        QCOMPARE(w.playlist->media(0).request().url(), QUrl::fromLocalFile(media("b.mp4")));
        const auto name = [&w](int i) { return w.playlist->media(i).request().url().fileName(); };
        QCOMPARE((QSet<QString>{name(1), name(2)}), (QSet<QString>{"c.mp4", "d.mp4"}));
        QVERIFY(w.menuWidget()->findChild<QAction*>("menuRecursionDir")->isChecked());
        // The list plays through once from its first item, then stops.
        QTRY_VERIFY_WITH_TIMEOUT(w.playlist->currentIndex() == 2 && w.playControl->getState() == GST_STATE_NULL,
                                 20000);
        QVERIFY(titles.at(0).at(0).toString().startsWith("korinplayer -- "));
        QVERIFY(closer.titles.isEmpty());
    }
};

int main(int argc, char* argv[])
{
    QByteArray args[] = {QByteArray(argv[0]), QFile::encodeName(media("missing.mp4")),
                         QFile::encodeName(media("dir")), "-r", QFile::encodeName(media("b.mp4"))};
    char* appArgv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), args[4].data(), nullptr};
    int appArgc = 5;
    QApplication app(appArgc, appArgv);
    TestCommandLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_commandline.moc"
