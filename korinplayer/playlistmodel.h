#ifndef KORIN_PLAYLISTMODEL_H
#define KORIN_PLAYLISTMODEL_H

#include <QAbstractTableModel>

class QMediaPlaylist;

// One-column view of a QMediaPlaylist, row for row. Keeps no copy: every
// read goes to the playlist, whose insert/remove signals drive the rows.
class PlaylistModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit PlaylistModel(QObject* parent = nullptr);

    QMediaPlaylist* getPlaylist() const { return playlist; }
    void setPlaylist(QMediaPlaylist* list);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QMediaPlaylist* playlist = nullptr;
};

#endif
