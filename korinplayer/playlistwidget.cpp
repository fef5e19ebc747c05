#include "playlistwidget.h"

#include "playlistmodel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMediaPlaylist>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

PlaylistWidget::PlaylistWidget(QMediaPlaylist* playlist, QWidget* parent)
    : QWidget(parent)
    , m_playlist(playlist)
{
    setObjectName(QStringLiteral("playlistWidget"));
    tableView = new QTableView(this);
    tableView->setObjectName(QStringLiteral("tableView"));
    model = new PlaylistModel(this);
    model->setPlaylist(playlist);
    tableView->setModel(model);
    tableView->setShowGrid(false);
    tableView->setDragEnabled(false);
    tableView->horizontalHeader()->setMinimumWidth(240);
    tableView->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView->setAlternatingRowColors(true);

    openBtn = new QPushButton(tr("Open"), this);
    addBtn = new QPushButton(tr("Add"), this);
    addFolderBtn = new QPushButton(tr("Add Folder"), this);
    removeBtn = new QPushButton(tr("Remove"), this);
    removeAllBtn = new QPushButton(tr("Remove All"), this);
    closeBtn = new QPushButton(tr("Close"), this);

    const std::pair<QPushButton*, const char*> named[] = {{openBtn, "openBtn"},           {addBtn, "addBtn"},
                                                          {addFolderBtn, "addFolderBtn"}, {removeBtn, "removeBtn"},
                                                          {removeAllBtn, "removeAllBtn"}, {closeBtn, "closeBtn"}};
    for (const auto& b : named)
        b.first->setObjectName(QLatin1String(b.second));

    auto* row = new QHBoxLayout;
    for (QPushButton* b : {addBtn, addFolderBtn, removeBtn, removeAllBtn})
        row->addWidget(b);
    auto* column = new QVBoxLayout(this);
    column->addWidget(tableView);
    column->addWidget(openBtn);
    column->addLayout(row);
    column->addWidget(closeBtn);

    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    setCursor(Qt::ArrowCursor);

    connect(openBtn, &QPushButton::clicked, this, &PlaylistWidget::open);
    connect(tableView, &QTableView::doubleClicked, this, [this](const QModelIndex& index) { emit play(index.row()); });
    connect(addBtn, &QPushButton::clicked, this, &PlaylistWidget::add);
    connect(addFolderBtn, &QPushButton::clicked, this, &PlaylistWidget::addFolder);
    connect(removeBtn, &QPushButton::clicked, this, &PlaylistWidget::remove);
    connect(removeAllBtn, &QPushButton::clicked, this, &PlaylistWidget::removeAll);
    connect(closeBtn, &QPushButton::clicked, this, &PlaylistWidget::closeWidget);
    connect(playlist, &QMediaPlaylist::mediaInserted, this, &PlaylistWidget::resizeToContents);
    connect(playlist, &QMediaPlaylist::mediaRemoved, this, &PlaylistWidget::resizeToContents);

    tableView->horizontalHeader()->setVisible(!playlist->isEmpty());
    tableView->horizontalHeader()->resizeSection(0, sizeHint().width() - 20);
}

void PlaylistWidget::open()
{
    const int row = tableView->currentIndex().row();
    if (row >= 0)
        emit play(row);
}

void PlaylistWidget::remove()
{
    QList<int> rows;
    for (const QModelIndex& index : tableView->selectionModel()->selectedRows(0))
        rows << index.row();
    if (rows.isEmpty())
        return;
    // Selections list rows in click order: remove exactly the chosen rows,
    // from the highest down, each contiguous run in one call.
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const int cur = m_playlist->currentIndex();
    int before = 0;
    bool currentRemoved = false;
    for (int r : rows) {
        if (r < cur)
            ++before;
        else if (r == cur)
            currentRemoved = true;
    }
    for (int i = rows.size() - 1; i >= 0;) {
        int j = i;
        while (j > 0 && rows.at(j - 1) == rows.at(j) - 1)
            --j;
        m_playlist->removeMedia(rows.at(j), rows.at(i));
        i = j - 1;
    }
    if (currentRemoved)
        m_playlist->setCurrentIndex(-1);
    else if (m_playlist->currentIndex() != cur - before)
        m_playlist->setCurrentIndex(cur - before);
    else
        emit m_playlist->currentIndexChanged(cur - before);
}

void PlaylistWidget::removeAll()
{
    m_playlist->clear();
    m_playlist->setCurrentIndex(-1);
}

void PlaylistWidget::resizeToContents()
{
    tableView->resizeColumnsToContents();
    if (m_playlist->isEmpty()) {
        tableView->horizontalHeader()->resizeSection(0, sizeHint().width() - 20);
        tableView->horizontalHeader()->hide();
    } else {
        tableView->horizontalHeader()->show();
    }
}
