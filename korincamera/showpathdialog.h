#ifndef SHOWPATHDIALOG_H
#define SHOWPATHDIALOG_H

#include <QDialog>
#include <QModelIndex>
#include <QString>

class QFileSystemModel;
class QTreeView;

// A tree of the file system's directories; Open reports the one clicked last.
class ShowPathDialog : public QDialog
{
    Q_OBJECT
public:
    ShowPathDialog(QWidget* parent, QString path);

    QTreeView* tree() const { return treeView; }

signals:
    void selectedPath(QString path);

public slots:
    void accept() override;
    void reject() override;
    void selectedDir(QModelIndex index);

private:
    QFileSystemModel* model;
    QTreeView* treeView;
    QString dirPath;
};

#endif
