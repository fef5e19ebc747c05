#include "effectsdialog.h"

#include "mainwindow.h"
#include "ui_effectsdialog.h"

namespace {
// Engine effect code of each box, by index in m_effectItems.
const REuint32 kEffectCodes[6] = {2, 1, 3, 6, 7, 4};
}

EffectsDialog::EffectsDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::EffectsDialog)
    , mainWindow(qobject_cast<MainWindow*>(parent ? parent->window() : nullptr))
{
    ui->setupUi(this);
    QCheckBox* const boxes[6] = {ui->mirrorBox, ui->cubeBox, ui->squeezeBox,
                                 ui->tunnelBox, ui->twirlBox, ui->fisheyeBox};
    std::copy(std::begin(boxes), std::end(boxes), std::begin(m_effectItems));
    connect(this, &QDialog::accepted, this, &EffectsDialog::applyChanges);
    connect(this, &QDialog::rejected, this, &EffectsDialog::abandomChanges);
}

EffectsDialog::~EffectsDialog()
{
    delete ui;
}

void EffectsDialog::boxClicked(int index, bool checked)
{
    if (checked) {
        clearOtherBox(index);
        waitForApplyEffect = index;
    } else {
        waitForApplyEffect = -1;
    }
}

void EffectsDialog::on_mirrorBox_clicked(bool checked) { boxClicked(0, checked); }
void EffectsDialog::on_cubeBox_clicked(bool checked) { boxClicked(1, checked); }
void EffectsDialog::on_squeezeBox_clicked(bool checked) { boxClicked(2, checked); }
void EffectsDialog::on_tunnelBox_clicked(bool checked) { boxClicked(3, checked); }
void EffectsDialog::on_twirlBox_clicked(bool checked) { boxClicked(4, checked); }
void EffectsDialog::on_fisheyeBox_clicked(bool checked) { boxClicked(5, checked); }

void EffectsDialog::clearOtherBox(int index)
{
    for (int i = 0; i < 6; ++i)
        if (i != index)
            m_effectItems[i]->setChecked(false);
}

void EffectsDialog::applyEffects(int index)
{
    const REuint32 code = index >= 0 && index < 6 ? kEffectCodes[index] : 0;
    if (mainWindow)
        emit mainWindow->add_video_effect(code);
}

void EffectsDialog::applyChanges()
{
    if (waitForApplyEffect == -2)
        return;
    applyEffects(waitForApplyEffect);
    usingEffect = waitForApplyEffect;
    waitForApplyEffect = -2;
    if (mainWindow)
        emit mainWindow->reset();
}

void EffectsDialog::abandomChanges()
{
    clearOtherBox(usingEffect);
    waitForApplyEffect = -2;
    if (usingEffect >= 0 && usingEffect < 6)
        m_effectItems[usingEffect]->setChecked(true);
}
