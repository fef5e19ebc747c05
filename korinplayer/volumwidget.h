#ifndef KORIN_VOLUMWIDGET_H
#define KORIN_VOLUMWIDGET_H

#include <QDialog>

class QCheckBox;
class QLabel;
class QSlider;

// Volume pop-up over the control bar's volume button.
class VolumWidget : public QDialog
{
    Q_OBJECT
public:
    // vol: the engine's volume, 0.0 to 1.0.
    VolumWidget(QWidget* parent, qreal vol);

    QLabel* volNumber = nullptr;
    QSlider* volSlider = nullptr;
    QCheckBox* isMuteCkBox = nullptr;
    QLabel* label = nullptr;
    // Outlives the pop-up so the check box reopens as it was left.
    static bool muted;

signals:
    void changeVolume(int percent);
    void isMute(bool mute);
};

#endif
