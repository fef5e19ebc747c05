#include "menubar.h"

#include <QMessageBox>

#include "appsettingsdialog.h"
#include "effectsdialog.h"
#include "engine_adapter.h"

static int initResources()
{
    // The images live in the static core library: make sure they are linked.
    Q_INIT_RESOURCE(korincamera);
    return 0;
}

CameraMenuBar::CameraMenuBar(QWidget* parent)
    : QFrame(parent)
{
    static const int resources = initResources();
    Q_UNUSED(resources);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_switchFnBtn = new SwitchFunctionButton(this);
    m_shapshotBtn = new ActionBtn(this);
    m_pThumbBtn = new ThumbnailButton(this);
    m_effectBtn = new EffectSettings(this);
    m_settingBtn = new AppSettings(this);
    m_stopWatch = new StopWatch(this);
    m_stopWatch->setTime(0);

    m_layout = new QVBoxLayout;
    m_layout->addWidget(m_pThumbBtn, 0, Qt::AlignHCenter);
    m_layout->addWidget(m_switchFnBtn, 0, Qt::AlignHCenter);
    m_layout->addWidget(m_shapshotBtn, 0, Qt::AlignHCenter);
    m_layout->addWidget(m_effectBtn, 0, Qt::AlignHCenter);
    m_layout->addWidget(m_settingBtn, 0, Qt::AlignHCenter);
    m_layout->addWidget(m_stopWatch, 0, Qt::AlignHCenter);
    setLayout(m_layout);

    connect(m_shapshotBtn, &QToolButton::clicked, this,
            [this]() { emit takeSnapShotBtn(EngineAdapter::m_workMode.load()); });
    connect(this, &CameraMenuBar::changeThumbnailImage, m_pThumbBtn, &ThumbnailButton::setImageToShow);
    connect(m_settingBtn, &QToolButton::clicked, this, &CameraMenuBar::showAppSettingsDialog);
    connect(m_effectBtn, &QToolButton::clicked, this, &CameraMenuBar::showEffectsDialog);
    connect(m_pThumbBtn, &QToolButton::clicked, this, &CameraMenuBar::showLookBackWidget);
    connect(&m_switchFnBtn->m_timeLine, &QTimeLine::stateChanged, this, [this](QTimeLine::State s) {
        m_shapshotBtn->blockSignals(s == QTimeLine::Running || m_captureHeld);
    });
}

void CameraMenuBar::holdCapture(bool hold)
{
    m_captureHeld = hold;
    m_shapshotBtn->blockSignals(hold || m_switchFnBtn->m_timeLine.state() == QTimeLine::Running);
}

CameraMenuBar::~CameraMenuBar()
{
    m_layout->deleteLater();
}

bool CameraMenuBar::engineIdle(const char* refusal)
{
    // Under the gallery, or while its player runs with the engine closed,
    // nothing is reconfigured.
    if (m_captureHeld)
        return false;
    if (EngineAdapter::m_engineState == PREVIREW)
        return true;
    QMessageBox::warning(this, "Engine is still working", refusal, QMessageBox::Ok);
    return false;
}

AppSettingsDialog* CameraMenuBar::appSettingsDialog() const
{
    return m_appSettingDialog;
}

EffectsDialog* CameraMenuBar::effectsDialog() const
{
    return m_effectsDialog;
}

void CameraMenuBar::showAppSettingsDialog()
{
    if (!engineIdle("Please stop recording before change app settings"))
        return;
    if (!m_appSettingDialog && !generated) {
        generated = true;
        m_appSettingDialog = new AppSettingsDialog(this);
    } else if (!m_appSettingDialog) {
        return;
    } else {
        m_appSettingDialog->updateCameraComboBox();
    }
    m_appSettingDialog->exec();
}

void CameraMenuBar::showEffectsDialog()
{
    if (!engineIdle("Please stop recording before change effects"))
        return;
    if (!m_effectsDialog)
        m_effectsDialog = new EffectsDialog(this);
    m_effectsDialog->exec();
}

void CameraMenuBar::updateAppSettingsCapability()
{
    if (m_appSettingDialog)
        m_appSettingDialog->updateCapabilityList();
}
