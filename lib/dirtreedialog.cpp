#include "dirtreedialog.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

DirTreeDialog::DirTreeDialog(QWidget* parent, const QString& path)
    : QDialog(parent)
    , model(new QFileSystemModel(this))
    , treeView(new QTreeView(this))
{
    model->setReadOnly(true);
    model->setRootPath(QDir::currentPath());
    model->setFilter(QDir::Dirs | QDir::NoDotAndDotDot);

    treeView->setModel(model);
    treeView->setSortingEnabled(true);
    for (int column = 1; column <= 3; ++column)
        treeView->hideColumn(column);
    treeView->header()->setAutoScroll(true);

    const QModelIndex start = model->index(QDir(path.isEmpty() ? QStringLiteral(".") : path).absolutePath(), 0);
    treeView->expand(start);
    treeView->scrollTo(start, QAbstractItemView::EnsureVisible);
    treeView->setCurrentIndex(start);
    selectedDir(start);
    treeView->resizeColumnToContents(0);
    connect(treeView, &QTreeView::clicked, this, &DirTreeDialog::selectedDir);

    auto* open = new QPushButton(tr("Open"), this);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    open->setObjectName(QStringLiteral("openBtn"));
    cancel->setObjectName(QStringLiteral("cancelBtn"));
    connect(open, &QPushButton::clicked, this, &DirTreeDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &DirTreeDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(open);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(treeView);
    layout->addLayout(buttons);
    resize(600, 400);
}

void DirTreeDialog::selectedDir(QModelIndex index)
{
    if (treeView->isExpanded(index))
        treeView->collapse(index);
    else
        treeView->expand(index);
    dirPath = model->filePath(index);
}

void DirTreeDialog::accept()
{
    emit selectedPath(dirPath);
    QDialog::accept();
}

void DirTreeDialog::reject()
{
    QDialog::reject();
}
