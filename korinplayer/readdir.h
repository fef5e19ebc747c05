#ifndef KORIN_READDIR_H
#define KORIN_READDIR_H

#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMediaContent>
#include <QMutex>
#include <QThread>

// Walks a folder on its own thread, keeping audio and video files (by the
// MIME type of their names). The batch goes to the main window's thread,
// which inserts it into the playlist in one go.
class ReadDir : public QThread
{
    Q_OBJECT
public:
    ReadDir(QObject* parent, QString path, bool playNow, bool recursion);

    void setNeedQuit(bool quit);
    bool getNeedQuit();
    static bool identifyFile(QFileInfo& info);

    // Guards m_needQuit of every scan.
    static QMutex quitMutex;
    // Serialises playlist insertions of scans.
    static QMutex mutex;

signals:
    void finishRead();
    void play(int index);
    // After finishRead, when the folder held no audio or video file.
    void foundNothing();

protected:
    void run() override;

private:
    // identifyFile with the answers for plain names remembered per name
    // ending (odd names go to identifyFile); folder ends with a slash.
    bool isMediaName(const QString& folder, const QString& name);
    bool isMediaEntry(const QString& folder, const char* name);
    bool isMediaEnding(const QByteArray& ending, const QString& name);
    static bool fileIsMedia(const QString& path);
    // The MIME test on the name alone.
    static bool nameIsMedia(const QString& name);

    QString m_dirPath;
    bool m_playNow;
    QList<QMediaContent> m_medialist;
    bool m_isRecursion;
    bool m_needQuit = false;
    QHash<QByteArray, bool> m_knownEndings; // MIME answer by what follows the first dot
};

#endif
