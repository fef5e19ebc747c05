#ifndef KORIN_DIRTREEDIALOG_H
#define KORIN_DIRTREEDIALOG_H

#include <QDialog>
#include <QModelIndex>
#include <QString>

class QFileSystemModel;
class QTreeView;

// A tree of the file system's directories, opened at a start folder; a click
// selects a directory and expands or collapses it, Open reports the one
// selected last ("openBtn"), Cancel reports nothing ("cancelBtn").
class DirTreeDialog : public QDialog
{
    Q_OBJECT
public:
    DirTreeDialog(QWidget* parent, const QString& path);

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
