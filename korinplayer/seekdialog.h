#ifndef KORIN_SEEKDIALOG_H
#define KORIN_SEEKDIALOG_H

#include <QDialog>
#include <QTime>

class QAbstractButton;
class QCheckBox;
class QTimeEdit;

// Asks for a time to jump to.
class SeekDialog : public QDialog
{
    Q_OBJECT
public:
    // duration: the media's length in milliseconds (picks the time format).
    SeekDialog(QWidget* parent, qint64 duration);

    QTimeEdit* timeEdit = nullptr;
    QAbstractButton* searchButton = nullptr;
    QAbstractButton* cancelButton = nullptr;
    QCheckBox* acurateSeek = nullptr;

signals:
    void seek(QTime time, bool accurate);

public slots:
    void searchButtonClicked();
    void cancel();
};

#endif
