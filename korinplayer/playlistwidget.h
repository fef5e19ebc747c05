#ifndef KORIN_PLAYLISTWIDGET_H
#define KORIN_PLAYLISTWIDGET_H

#include <QWidget>

class QMediaPlaylist;
class QPushButton;
class QTableView;
class PlaylistModel;

// The playlist panel: the table and its buttons. Removal edits the playlist
// here; opening and adding are signalled to the main window.
class PlaylistWidget : public QWidget
{
    Q_OBJECT
public:
    PlaylistWidget(QMediaPlaylist* playlist, QWidget* parent = nullptr);

    PlaylistModel* getPlaylistModel() const { return model; }
    QTableView* getTableView() const { return tableView; }

    QTableView* tableView = nullptr;
    PlaylistModel* model = nullptr;
    QPushButton* openBtn = nullptr;
    QPushButton* addBtn = nullptr;
    QPushButton* addFolderBtn = nullptr;
    QPushButton* removeBtn = nullptr;
    QPushButton* removeAllBtn = nullptr;
    QPushButton* closeBtn = nullptr;

signals:
    void add();
    void addFolder();
    void play(int row);
    void closeWidget();

public slots:
    void remove();
    void removeAll();
    void open();
    void resizeToContents();

private:
    QMediaPlaylist* m_playlist = nullptr;
};

#endif
