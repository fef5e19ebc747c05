#ifndef APPSETTINGSDIALOG_H
#define APPSETTINGSDIALOG_H

#include <QDialog>
#include <QMap>
#include <QPointer>
#include <QVector>

#include "engine_adapter.h"
#include "showpathdialog.h"

class MainWindow;
class QCheckBox;
class QKeyEvent;
class QLineEdit;
class QSlider;
namespace Ui {
class AppSettingsDialog;
}

// The camera's settings: camera, capability, encoder, container, split
// limits, time stamp, save directory and RTP. Most controls send their value
// to the engine at once; closing sends the RTP choice and resets the engine.
class AppSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AppSettingsDialog(QWidget* parent);
    ~AppSettingsDialog() override;

    // Why captures cannot be saved under dir, or empty when they can.
    static QString savePathProblem(const QString& dir);

public slots:
    void updateCameraComboBox();
    void updateCapabilityList();

    void on_cameraComboBox_currentIndexChanged(int index);
    void on_containerFmtComboBox_currentIndexChanged(int index);
    void on_capabilityComboBox_currentIndexChanged(int index);
    void on_changePathPushButton_clicked();
    void on_videoEncoderComboBox_currentIndexChanged(int index);
    void on_saveTimeChkBox_clicked(bool checked);
    void on_splitFilesChkBox_clicked(bool checked);
    void on_maxFileSizeHorizontalSlider_valueChanged(int value);
    void on_maxFileCountHorizontalSlider_valueChanged(int value);
    void on_maxFileSizeHorizontalSlider_sliderReleased();
    void on_maxFileCountHorizontalSlider_sliderReleased();
    void on_maxFileSizeShowLineEdit_textEdited(const QString& text);
    void on_maxFileCountShowLineEdit_textEdited(const QString& text);
    void on_enableRtpChkBox_clicked(bool checked);
    void on_IPLineEdit_textEdited(const QString& text);
    void on_portLineEdit_textEdited(const QString& text);
    void on_hidePreviewChkBox_clicked(bool checked);
    void on_buttonBox_accepted();
    void on_AppSettingsDialog_rejected();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool isIpAvailable(const QString& ip);
    void updateVideoEncoderComboBox();
    void setAwaitingCapabilities(bool awaiting);
    void limitSliderChanged(QSlider* slider, QLineEdit* edit, int value, void (AppSettingsDialog::*released)());
    void limitEdited(QSlider* slider, QLineEdit* edit, const QString& text);
    bool holdTsContainer(QCheckBox* box, QCheckBox* other, bool checked);
    void applyOnClose();
    void showPathInForce();

    Ui::AppSettingsDialog* ui;
    MainWindow* mainWindow;
    EngineAdapter* m_adapter;
    REOptions* engineOptions;   // read and written under m_adapter->optionsMutex()
    QString currentPath;
    QPointer<ShowPathDialog> pathDialog;
    bool pathChanged = false;
    bool needResetEngine = false;
    QMap<int, QString> index2EncoderName;
    QMap<int, QVector<int>> containerFmtSupportEncoder;
    QVector<CameraCapabilities> m_capabilities; // the list the capability box shows
    bool m_awaitingCapabilities = false;
};

#endif
