#ifndef EFFECTSDIALOG_H
#define EFFECTSDIALOG_H

#include <QDialog>

class MainWindow;
class QCheckBox;
namespace Ui {
class EffectsDialog;
}

// Picks at most one of six live video effects; Ok sends it and rebuilds the
// engine's pipeline, Cancel restores the boxes to the effect in use.
class EffectsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit EffectsDialog(QWidget* parent);
    ~EffectsDialog() override;

public slots:
    void applyChanges();
    void abandomChanges();
    void on_mirrorBox_clicked(bool checked);
    void on_squeezeBox_clicked(bool checked);
    void on_tunnelBox_clicked(bool checked);
    void on_twirlBox_clicked(bool checked);
    void on_cubeBox_clicked(bool checked);
    void on_fisheyeBox_clicked(bool checked);

private:
    void applyEffects(int index);
    void clearOtherBox(int index);
    void boxClicked(int index, bool checked);

    Ui::EffectsDialog* ui;
    QCheckBox* m_effectItems[6];
    MainWindow* mainWindow;
    int usingEffect = -1;
    int waitForApplyEffect = -1;
};

#endif
