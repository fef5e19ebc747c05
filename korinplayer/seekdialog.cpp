#include "seekdialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

SeekDialog::SeekDialog(QWidget* parent, qint64 duration)
    : QDialog(parent)
{
    setWindowTitle(tr("Seek to"));
    timeEdit = new QTimeEdit(this);
    timeEdit->setButtonSymbols(QAbstractSpinBox::NoButtons);
    timeEdit->setDisplayFormat(duration > 3600999 ? QStringLiteral("hh:mm:ss") : QStringLiteral("mm:ss"));
    acurateSeek = new QCheckBox(tr("Acurate seek"), this);
    acurateSeek->setChecked(false);
    searchButton = new QPushButton(tr("Search"), this);
    cancelButton = new QPushButton(tr("Cancel"), this);
    static_cast<QPushButton*>(searchButton)->setDefault(true);

    auto* top = new QHBoxLayout;
    top->addWidget(timeEdit);
    top->addWidget(acurateSeek);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(searchButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);

    connect(searchButton, &QAbstractButton::clicked, this, &SeekDialog::searchButtonClicked);
    connect(cancelButton, &QAbstractButton::clicked, this, &SeekDialog::cancel);
}

void SeekDialog::searchButtonClicked()
{
    // An empty or half-typed time is not a position: keep the dialog open
    // so it can be corrected.
    if (!timeEdit->hasAcceptableInput()
        || !QTime::fromString(timeEdit->text(), timeEdit->displayFormat()).isValid())
        return;
    emit seek(timeEdit->time(), acurateSeek->isChecked());
    close();
}

void SeekDialog::cancel()
{
    close();
}
