#include "playlistmodel.h"

#include <QMediaPlaylist>
#include <QUrl>

PlaylistModel::PlaylistModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void PlaylistModel::setPlaylist(QMediaPlaylist* list)
{
    Q_ASSERT(list);
    beginResetModel();
    if (playlist)
        disconnect(playlist, nullptr, this, nullptr);
    playlist = list;
    connect(playlist, &QMediaPlaylist::mediaAboutToBeInserted, this,
            [this](int start, int end) { beginInsertRows(QModelIndex(), start, end); });
    connect(playlist, &QMediaPlaylist::mediaInserted, this, [this] { endInsertRows(); });
    connect(playlist, &QMediaPlaylist::mediaAboutToBeRemoved, this,
            [this](int start, int end) { beginRemoveRows(QModelIndex(), start, end); });
    connect(playlist, &QMediaPlaylist::mediaRemoved, this, [this] { endRemoveRows(); });
    endResetModel();
}

int PlaylistModel::rowCount(const QModelIndex& parent) const
{
    return playlist && !parent.isValid() ? playlist->mediaCount() : 0;
}

int PlaylistModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant PlaylistModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || !playlist || index.row() >= playlist->mediaCount())
        return QVariant();
    return playlist->media(index.row()).request().url().fileName(QUrl::FullyDecoded);
}

QModelIndex PlaylistModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || !playlist || row >= playlist->mediaCount())
        return QModelIndex();
    return createIndex(row, column);
}

QVariant PlaylistModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return QStringLiteral("File Name");
    return section + 1;
}
