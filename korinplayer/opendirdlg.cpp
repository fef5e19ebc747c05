#include "opendirdlg.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

OpenDirDlg::OpenDirDlg(QWidget* parent, QString dir_path)
    : QDialog(parent)
{
    model = new QFileSystemModel(this);
    model->setReadOnly(true);
    model->setRootPath(QDir::currentPath());
    model->setFilter(QDir::Dirs | QDir::NoDotAndDotDot);

    treeView = new QTreeView(this);
    treeView->setModel(model);
    treeView->setSortingEnabled(true);
    for (int c = 1; c <= 3; ++c)
        treeView->hideColumn(c);
    treeView->header()->setAutoScroll(true);

    const QModelIndex start = model->index(dir_path.isEmpty() ? QStringLiteral(".") : dir_path);
    treeView->expand(start);
    treeView->scrollTo(start, QAbstractItemView::EnsureVisible);
    treeView->setCurrentIndex(start);
    selectedDir(start);
    treeView->resizeColumnToContents(0);
    connect(treeView, &QTreeView::clicked, this, &OpenDirDlg::selectedDir);

    auto* openBtn = new QPushButton(tr("Open"), this);
    auto* cancelBtn = new QPushButton(tr("Cancel"), this);
    openBtn->setObjectName(QStringLiteral("openBtn"));
    cancelBtn->setObjectName(QStringLiteral("cancelBtn"));
    connect(openBtn, &QPushButton::clicked, this, &OpenDirDlg::accept);
    connect(cancelBtn, &QPushButton::clicked, this, &OpenDirDlg::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openBtn);
    buttons->addWidget(cancelBtn);
    auto* column = new QVBoxLayout(this);
    column->addWidget(treeView);
    column->addLayout(buttons);
    resize(600, 400);
}

void OpenDirDlg::selectedDir(QModelIndex index)
{
    if (treeView->isExpanded(index))
        treeView->collapse(index);
    else
        treeView->expand(index);
    dirPath = model->filePath(index);
}

void OpenDirDlg::accept()
{
    emit selectedPath(dirPath);
    QDialog::accept();
}

void OpenDirDlg::reject()
{
    QDialog::reject();
}
