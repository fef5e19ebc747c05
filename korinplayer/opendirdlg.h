#ifndef KORIN_OPENDIRDLG_H
#define KORIN_OPENDIRDLG_H

#include <QDialog>
#include <QModelIndex>

class QFileSystemModel;
class QTreeView;

// Folder chooser: a tree of directories; a click selects and toggles.
class OpenDirDlg : public QDialog
{
    Q_OBJECT
public:
    OpenDirDlg(QWidget* parent, QString dir_path);

    QFileSystemModel* model = nullptr;
    QTreeView* treeView = nullptr;
    QString dirPath;

signals:
    void selectedPath(QString path);

public slots:
    void selectedDir(QModelIndex index);
    void accept() override;
    void reject() override;
};

#endif
