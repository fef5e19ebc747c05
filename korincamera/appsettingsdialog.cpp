#include "appsettingsdialog.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include "eventwait.h"
#include "mainwindow.h"
#include "ui_appsettingsdialog.h"
#include "utils.h"

namespace {
const QString kUnlimited = QStringLiteral("Unlimit");
// The longest name a capture adds to the save directory: a split recording's
// folder and its first file.
const QString kLongestCaptureName =
    QStringLiteral("/dedavevuz_YYYYMMDD_hhmmss/dedavevuz_YYYYMMDD_hhmmss.mp4");
// Room for a capture path in the engine adapter (its NUL included).
const int kPathBufferBytes = int(sizeof(REOptions::path));

bool isDecimalDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// A non-empty run of ASCII digits as a number; *ok false for anything else.
qulonglong asciiNumber(const QString& text, bool* ok)
{
    *ok = !text.isEmpty() && text.size() <= 19;
    qulonglong n = 0;
    for (int i = 0; *ok && i < text.size(); ++i) {
        *ok = isDecimalDigit(text.at(i));
        n = n * 10 + qulonglong(text.at(i).unicode() - '0');
    }
    return *ok ? n : 0;
}

// The RTP port in text, or 0 when it is not one.
REuint32 rtpPort(const QString& text)
{
    bool ok = false;
    const qulonglong port = asciiNumber(text, &ok);
    return ok && port >= 1 && port <= 65535 ? REuint32(port) : 0;
}

void dropLastCharacter(QLineEdit* edit, const QString& text)
{
    edit->setText(text.left(text.size() - 1));
}
}

AppSettingsDialog::AppSettingsDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::AppSettingsDialog)
    , mainWindow(qobject_cast<MainWindow*>(parent ? parent->window() : nullptr))
{
    Q_ASSERT(mainWindow);
    index2EncoderName = {{0, "H264"}, {1, "MPEG4"}, {2, "H263"}, {3, "MPEG"}};
    // MP4 and MOV files cannot carry MPEG-2 video.
    containerFmtSupportEncoder = {{0, {0, 1, 2}}, {1, {0, 1, 2}}, {2, {0, 1, 2, 3}},
                                  {3, {0, 1, 2, 3}}, {4, {0}}, {5, {0, 1}}};
    ui->setupUi(this);
    m_adapter = mainWindow->engineAdapter();
    engineOptions = m_adapter->getOptions();

    currentPath = mainWindow->getCurrentSavePath();
    showPathInForce();

    QString broadcast;
    ipAddr::getLocalBroadcastAddr(broadcast);
    ui->IPLineEdit->setText(broadcast);
    ui->portLineEdit->setText("5004");

    updateCameraComboBox();
    updateCapabilityList();
    updateVideoEncoderComboBox();
}

AppSettingsDialog::~AppSettingsDialog()
{
    delete ui;
}

QString AppSettingsDialog::savePathProblem(const QString& dir)
{
    if (dir.isEmpty())
        return QStringLiteral("No folder was chosen.");
    const QFileInfo info(dir);
    if (!info.isDir())
        return QString("The folder %1 does not exist.").arg(dir);
    if (!info.isWritable())
        return QString("The folder %1 cannot be written to.").arg(dir);
    if ((dir + kLongestCaptureName).toUtf8().size() >= kPathBufferBytes)
        return QString("The path of the folder %1 is too long for the recorder.").arg(dir);
    return QString();
}

void AppSettingsDialog::keyPressEvent(QKeyEvent* event)
{
    // Neither Enter nor Escape may close the dialog: it closes by Ok only.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        event->accept();
    else
        event->ignore();
}

void AppSettingsDialog::showPathInForce()
{
    ui->showSavePathLabel->setText(currentPath);
}

// ---- camera and capability ----

void AppSettingsDialog::updateCameraComboBox()
{
    REuint32 cameraId;
    {
        std::lock_guard<std::mutex> lock(*m_adapter->optionsMutex());
        cameraId = engineOptions->camera_id;
    }
    QSignalBlocker block(ui->cameraComboBox);
    ui->cameraComboBox->clear();
    ui->cameraComboBox->addItems(mainWindow->deviceList());
    ui->cameraComboBox->setCurrentIndex(ui->cameraComboBox->findText(QString("/dev/video%1").arg(cameraId)));
}

void AppSettingsDialog::on_cameraComboBox_currentIndexChanged(int index)
{
    static const QRegularExpression number("/dev/video(\\d+)$");
    const QRegularExpressionMatch m = number.match(ui->cameraComboBox->itemText(index));
    if (index < 0 || !m.hasMatch())
        return;
    emit mainWindow->set_camera_id(m.captured(1).toUInt());
    m_adapter->setUpdateCapabilityCompleted(false);
    emit mainWindow->reset();
    emit mainWindow->get_camera_capebilities();
    updateCapabilityList();
}

void AppSettingsDialog::setAwaitingCapabilities(bool awaiting)
{
    m_awaitingCapabilities = awaiting;
    ui->cameraComboBox->setEnabled(!awaiting);
    ui->capabilityComboBox->setEnabled(!awaiting);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(!awaiting);
}

void AppSettingsDialog::updateCapabilityList()
{
    // A wait already running takes the new list when it sees it.
    if (m_awaitingCapabilities)
        return;
    if (!m_adapter->updateCapabilityCompleted()) {
        setAwaitingCapabilities(true);
        QPointer<AppSettingsDialog> alive(this);
        for (int step = 0; step < 120 && !m_adapter->updateCapabilityCompleted(); ++step) {
            waitWithEvents(20);
            if (!alive)
                return;
        }
        setAwaitingCapabilities(false);
        if (!m_adapter->updateCapabilityCompleted()) {
            m_capabilities.clear();
            ui->capabilityComboBox->clear();
            ui->capabilityComboBox->update();
            return;
        }
    }
    m_capabilities = m_adapter->getCapabilities();
    {
        QSignalBlocker block(ui->capabilityComboBox);
        ui->capabilityComboBox->clear();
        for (const CameraCapabilities& c : m_capabilities)
            ui->capabilityComboBox->addItem(
                QString("width: %1, height: %2, fps: %3").arg(c.width).arg(c.height).arg(c.frame_rate));
        ui->capabilityComboBox->setCurrentIndex(0);
    }
    ui->capabilityComboBox->update();
    on_capabilityComboBox_currentIndexChanged(0);
}

void AppSettingsDialog::on_capabilityComboBox_currentIndexChanged(int index)
{
    if (index < 0 || index >= m_capabilities.size())
        return;
    const CameraCapabilities& c = m_capabilities.at(index);
    emit mainWindow->set_camera_output_settings(
        RERawVideoSettings{0, REuint32(c.width), REuint32(c.height), REuint32(c.frame_rate)});
    needResetEngine = true;
}

// ---- container and encoder ----

void AppSettingsDialog::updateVideoEncoderComboBox()
{
    QSignalBlocker block(ui->videoEncoderComboBox);
    ui->videoEncoderComboBox->clear();
    for (int encoder : containerFmtSupportEncoder.value(ui->containerFmtComboBox->currentIndex()))
        ui->videoEncoderComboBox->addItem(index2EncoderName.value(encoder));
}

void AppSettingsDialog::on_containerFmtComboBox_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    updateVideoEncoderComboBox();
    ui->videoEncoderComboBox->setCurrentIndex(0);
    on_videoEncoderComboBox_currentIndexChanged(0);
    {
        // Written here too so that a capture named before the engine thread
        // takes the request gets the new extension.
        std::lock_guard<std::mutex> lock(*m_adapter->optionsMutex());
        engineOptions->container_format = REuint32(index);
    }
    emit mainWindow->set_container_format(REuint32(index));
    needResetEngine = true;
}

void AppSettingsDialog::on_videoEncoderComboBox_currentIndexChanged(int index)
{
    const int k = index2EncoderName.values().indexOf(ui->videoEncoderComboBox->itemText(index));
    if (index < 0 || k < 0)
        return;
    REVideoEncoderSettings settings;
    {
        std::lock_guard<std::mutex> lock(*m_adapter->optionsMutex());
        settings = engineOptions->video_encoder_setting;
    }
    settings.encoderType = REuint32(k + 1);
    emit mainWindow->set_video_encoder_settings(settings);
    needResetEngine = true;
}

void AppSettingsDialog::on_saveTimeChkBox_clicked(bool checked)
{
    emit mainWindow->add_time_stamp(checked);
    needResetEngine = true;
}

// ---- split files ----

// Split files and RTP both fix the container to TS, so only one of them can
// be on: a box ticked while the other is on is unticked again (false).
bool AppSettingsDialog::holdTsContainer(QCheckBox* box, QCheckBox* other, bool checked)
{
    if (other->isChecked()) {
        box->setChecked(false);
        return false;
    }
    QComboBox* container = ui->containerFmtComboBox;
    if (checked) {
        container->setCurrentIndex(container->count() - 1);
        container->repaint();
    }
    container->setEnabled(!checked);
    return true;
}

void AppSettingsDialog::on_splitFilesChkBox_clicked(bool checked)
{
    if (!holdTsContainer(ui->splitFilesChkBox, ui->enableRtpChkBox, checked))
        return;
    if (checked) {
        ui->maxFileSizeShowLineEdit->setText("0");
        ui->maxFileCountShowLineEdit->setText("0");
    } else {
        ui->maxFileSizeHorizontalSlider->setValue(0);
        ui->maxFileCountHorizontalSlider->setValue(0);
        ui->maxFileSizeShowLineEdit->setText(kUnlimited);
        ui->maxFileCountShowLineEdit->setText(kUnlimited);
    }
    for (QWidget* w : {static_cast<QWidget*>(ui->maxFileSizeHorizontalSlider),
                       static_cast<QWidget*>(ui->maxFileCountHorizontalSlider),
                       static_cast<QWidget*>(ui->maxFileSizeShowLineEdit),
                       static_cast<QWidget*>(ui->maxFileCountShowLineEdit)})
        w->setEnabled(checked);
    on_maxFileCountHorizontalSlider_sliderReleased();
    on_maxFileSizeHorizontalSlider_sliderReleased();
}

void AppSettingsDialog::limitSliderChanged(QSlider* slider, QLineEdit* edit, int value,
                                           void (AppSettingsDialog::*released)())
{
    if (value != 0)
        edit->setText(QString::number(value));
    else if (focusWidget() != edit)
        edit->setText(kUnlimited);
    // A drag sends once, on release.
    if (!slider->isSliderDown())
        (this->*released)();
    needResetEngine = true;
}

void AppSettingsDialog::on_maxFileSizeHorizontalSlider_valueChanged(int value)
{
    limitSliderChanged(ui->maxFileSizeHorizontalSlider, ui->maxFileSizeShowLineEdit, value,
                       &AppSettingsDialog::on_maxFileSizeHorizontalSlider_sliderReleased);
}

void AppSettingsDialog::on_maxFileCountHorizontalSlider_valueChanged(int value)
{
    limitSliderChanged(ui->maxFileCountHorizontalSlider, ui->maxFileCountShowLineEdit, value,
                       &AppSettingsDialog::on_maxFileCountHorizontalSlider_sliderReleased);
}

void AppSettingsDialog::on_maxFileSizeHorizontalSlider_sliderReleased()
{
    emit mainWindow->set_max_file_size_bytes(REuint64(ui->maxFileSizeHorizontalSlider->value()) * 1048576ULL);
}

void AppSettingsDialog::on_maxFileCountHorizontalSlider_sliderReleased()
{
    emit mainWindow->set_file_count(REuint32(ui->maxFileCountHorizontalSlider->value()));
}

void AppSettingsDialog::limitEdited(QSlider* slider, QLineEdit* edit, const QString& text)
{
    if (text.isEmpty()) {
        slider->setValue(0);
        return;
    }
    if (!isDecimalDigit(text.back())) {
        dropLastCharacter(edit, text);
        return;
    }
    bool ok = false;
    qulonglong n = asciiNumber(text, &ok);
    if (!ok)
        return;
    if (n > qulonglong(slider->maximum())) {
        n = qulonglong(slider->maximum());
        edit->setText(QString::number(n));
    }
    slider->setValue(int(n));
}

void AppSettingsDialog::on_maxFileSizeShowLineEdit_textEdited(const QString& text)
{
    limitEdited(ui->maxFileSizeHorizontalSlider, ui->maxFileSizeShowLineEdit, text);
}

void AppSettingsDialog::on_maxFileCountShowLineEdit_textEdited(const QString& text)
{
    limitEdited(ui->maxFileCountHorizontalSlider, ui->maxFileCountShowLineEdit, text);
}

// ---- RTP ----

void AppSettingsDialog::on_enableRtpChkBox_clicked(bool checked)
{
    if (!holdTsContainer(ui->enableRtpChkBox, ui->splitFilesChkBox, checked))
        return;
    if (!checked) {
        emit mainWindow->set_rtp_host(QString(), 0);
        ui->hidePreviewChkBox->setChecked(false);
    }
    ui->IPLineEdit->setEnabled(checked);
    ui->portLineEdit->setEnabled(checked);
    ui->hidePreviewChkBox->setEnabled(checked);
    needResetEngine = true;
}

void AppSettingsDialog::on_IPLineEdit_textEdited(const QString& text)
{
    if (text.isEmpty())
        return;
    if (!isDecimalDigit(text.back()) && text.back() != QLatin1Char('.')) {
        dropLastCharacter(ui->IPLineEdit, text);
        return;
    }
    const QStringList parts = text.split('.', Qt::KeepEmptyParts);
    if (parts.size() > 4) {
        ui->IPLineEdit->setText(text.left(text.lastIndexOf('.')));
        return;
    }
    bool ok = false;
    if (asciiNumber(parts.last(), &ok) > 255) {
        dropLastCharacter(ui->IPLineEdit, text);
        return;
    }
    needResetEngine = true;
}

void AppSettingsDialog::on_portLineEdit_textEdited(const QString& text)
{
    if (text.isEmpty())
        return;
    if (!isDecimalDigit(text.back())) {
        dropLastCharacter(ui->portLineEdit, text);
        return;
    }
    bool ok = false;
    if (asciiNumber(text, &ok) >= 65536) {
        dropLastCharacter(ui->portLineEdit, text);
        return;
    }
    needResetEngine = true;
}

bool AppSettingsDialog::isIpAvailable(const QString& ip)
{
    const QStringList parts = ip.split('.', Qt::KeepEmptyParts);
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        bool ok = false;
        if (asciiNumber(part, &ok) > 255 || !ok)
            return false;
    }
    return true;
}

void AppSettingsDialog::on_hidePreviewChkBox_clicked(bool checked)
{
    emit mainWindow->disable_viewfinder(checked);
    needResetEngine = true;
}

// ---- save path ----

void AppSettingsDialog::on_changePathPushButton_clicked()
{
    if (!pathDialog) {
        pathDialog = new ShowPathDialog(this, currentPath);
        connect(pathDialog, &ShowPathDialog::selectedPath, this, [this](QString path) {
            currentPath = path;
            pathChanged = true;
        });
    }
    const QString previous = currentPath;
    pathDialog->exec();
    if (!pathChanged)
        return;
    pathChanged = false;
    const QString problem = savePathProblem(currentPath);
    if (problem.isEmpty())
        mainWindow->setCurrentSavePath(currentPath);
    else
        QMessageBox::warning(this, "Cannot save there", problem, QMessageBox::Ok);
    // What the watcher actually entered, whatever was asked for.
    currentPath = problem.isEmpty() ? mainWindow->getCurrentSavePath() : previous;
    showPathInForce();
}

// ---- closing ----

void AppSettingsDialog::applyOnClose()
{
    if (!needResetEngine)
        return;
    const bool rtp = ui->enableRtpChkBox->isChecked();
    const REuint32 port = rtpPort(ui->portLineEdit->text());
    if (rtp && port != 0 && isIpAvailable(ui->IPLineEdit->text())) {
        emit mainWindow->set_rtp_host(ui->IPLineEdit->text(), port);
    } else {
        // No stream to a destination the dialog no longer shows.
        if (rtp)
            emit mainWindow->set_rtp_host(QString(), 0);
        ui->hidePreviewChkBox->setChecked(false);
        emit mainWindow->disable_viewfinder(false);
    }
    emit mainWindow->reset();
    for (QLineEdit* edit : {ui->maxFileSizeShowLineEdit, ui->maxFileCountShowLineEdit})
        if (edit->text().isEmpty())
            edit->setText(kUnlimited);
    needResetEngine = false;
}

void AppSettingsDialog::on_buttonBox_accepted()
{
    applyOnClose();
}

void AppSettingsDialog::on_AppSettingsDialog_rejected()
{
    applyOnClose();
}
