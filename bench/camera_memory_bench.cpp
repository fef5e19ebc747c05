// Resident memory of the camera over ten recordings at a chosen size: the
// camera's main window and malloc settings as main.cpp makes them (no camera
// here, so the engine's test pattern), the capability picked in the
// settings dialog, the capture button pressed to start and stop; RSS is read
// 5 s after each recording's thumbnail is written. Run it under Xvfb (the
// preview needs an X window).
// Usage: camera_memory_bench [RECORDINGS] [SECONDS] [CAPABILITY]
//   (default 10, 3, "width: 1920, height: 1080, fps: 30"); HOME is where
//   the recordings go.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QtTest>

#include "appsettingsdialog.h"
#include "menubar.h"
#include "soak.h"
#include "startup.h"
#include "videothumbnailer.h"
#include "window_util.h"

namespace {

bool chooseCapability(MainWindow* w, const QString& capability)
{
    AppSettingsDialog* d = new AppSettingsDialog(w->cameraMenuBar());
    QComboBox* box = d->findChild<QComboBox*>("capabilityComboBox");
    box->setCurrentText(capability);
    if (box->currentText() != capability) {
        fprintf(stderr, "no capability \"%s\"\n", qPrintable(capability));
        return false;
    }
    d->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    return true;
}

// One recording; the RSS 5 s after its thumbnail is written, -1 on failure.
long recordOnce(MainWindow* w, int seconds)
{
    QSignalSpy saved(w->videoThumbnailer(), &VideoThumbnailer::imageSaved);
    if (!QTest::qWaitFor([w] { return w->videoThumbnailer()->isCaptureDone(); }, 30000) || !pressCaptureUntil(w, RUNNING))
        return -1;
    QTest::qWait(seconds * 1000); // the recording's length
    if (!pressCaptureUntil(w, PREVIREW) || !saved.wait(60000))
        return -1;
    QTest::qWait(5000);
    return soak_rss_kb();
}

} // namespace

int main(int argc, char** argv)
{
    limitMallocArenas();
    completeEnvironment();
    QApplication app(argc, argv);
    const int recordings = argc > 1 ? atoi(argv[1]) : 10;
    const int seconds = argc > 2 ? atoi(argv[2]) : 3;
    const QString capability = argc > 3 ? QString::fromUtf8(argv[3]) : "width: 1920, height: 1080, fps: 30";
    EngineAdapter::m_workMode = VIDEO_MODE;
    MainWindow* w = nullptr;
    if (!openCameraWindow(&w) || !chooseCapability(w, capability))
        return 1;
    printf("window open: %.1f MB\n", soak_rss_kb() / 1024.0);
    long first = -1, last = -1;
    for (int i = 1; i <= recordings; ++i) {
        last = recordOnce(w, seconds);
        if (last < 0) {
            fprintf(stderr, "recording %d failed\n", i);
            return 1;
        }
        first = first < 0 ? last : first;
        printf("5 s after thumbnail %2d: %.1f MB\n", i, last / 1024.0);
        fflush(stdout);
    }
    printf("last - first: %+.1f MB (goal: within 60 MB)\n", (last - first) / 1024.0);
    w->close();
    delete w;
    return 0;
}
