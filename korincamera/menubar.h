#ifndef MENUBAR_H
#define MENUBAR_H

#include <QFrame>
#include <QPointer>
#include <QVBoxLayout>

#include "menubar_button/actionbtn.h"
#include "menubar_button/iconbuttons.h"
#include "menubar_button/stopwatch.h"
#include "menubar_button/switchfunctionbutton.h"
#include "menubar_button/thumbnailwidget.h"

class AppSettingsDialog;
class EffectsDialog;

// The camera's vertical menu bar: newest picture, mode switch, capture
// button, effects, settings and the recording stop watch. It decides nothing
// about capture; it passes requests on to the main window.
class CameraMenuBar : public QFrame
{
    Q_OBJECT
public:
    explicit CameraMenuBar(QWidget* parent);
    ~CameraMenuBar() override;

    SwitchFunctionButton* switchButton() const { return m_switchFnBtn; }
    ActionBtn* snapshotButton() const { return m_shapshotBtn; }
    ThumbnailButton* thumbnailButton() const { return m_pThumbBtn; }
    EffectSettings* effectsButton() const { return m_effectBtn; }
    AppSettings* settingsButton() const { return m_settingBtn; }
    StopWatch* stopWatch() const { return m_stopWatch; }
    // Keeps the capture button's clicks blocked (the gallery is shown),
    // whatever the mode switch does meanwhile.
    void holdCapture(bool hold);
    AppSettingsDialog* appSettingsDialog() const;
    EffectsDialog* effectsDialog() const;

signals:
    void takeSnapShotBtn(int workmode);
    void changeThumbnailImage(QString path);
    void showLookBackWidget();

public slots:
    void showAppSettingsDialog();
    void showEffectsDialog();
    void updateAppSettingsCapability();

private:
    bool engineIdle(const char* refusal);

    SwitchFunctionButton* m_switchFnBtn;
    ActionBtn* m_shapshotBtn;
    ThumbnailButton* m_pThumbBtn;
    EffectSettings* m_effectBtn;
    AppSettings* m_settingBtn;
    StopWatch* m_stopWatch;
    QVBoxLayout* m_layout;
    bool m_captureHeld = false;
    QPointer<AppSettingsDialog> m_appSettingDialog;
    QPointer<EffectsDialog> m_effectsDialog;
    // The settings dialog is made once per window; if it is ever destroyed
    // the settings button stays without one.
    bool generated = false;
};

#endif
