#include "readdir.h"

#include "korinplayer.h"

#include <QDebug>
#include <QDir>
#include <QMimeDatabase>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>
#include <QVector>

#include <cstring>
#include <dirent.h>
#include <fnmatch.h>
#include <locale.h>
#include <sys/stat.h>

QMutex ReadDir::quitMutex;
QMutex ReadDir::mutex;

ReadDir::ReadDir(QObject* parent, QString path, bool playNow, bool recursion)
    : QThread(parent)
    , m_dirPath(std::move(path))
    , m_playNow(playNow)
    , m_isRecursion(recursion)
{
}

void ReadDir::setNeedQuit(bool quit)
{
    QMutexLocker lock(&quitMutex);
    m_needQuit = quit;
}

bool ReadDir::getNeedQuit()
{
    QMutexLocker lock(&quitMutex);
    return m_needQuit;
}

bool ReadDir::identifyFile(QFileInfo& info)
{
    return info.isFile() && nameIsMedia(info.fileName());
}

bool ReadDir::nameIsMedia(const QString& name)
{
    // QRegularExpression (unlike QRegExp) may be matched by several scan
    // threads at once.
    static const QRegularExpression media(QStringLiteral("(video/)|(audio/)|(application/x-3gp)|(application/ogg)|"
                                                         "(application/x-annodex)|(application/vnd.rn-realmedia)|"
                                                         "(application/x-linguist)"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (media.match(type.name()).hasMatch())
        return true;
    for (const QString& alias : type.aliases())
        if (media.match(alias).hasMatch())
            return true;
    return false;
}

namespace {
// Name patterns of the MIME database other than a plain "*.ending": literal
// names, prefixes, suffixes without a dot and wildcard forms. A name that
// matches none of them has a type that depends only on what follows its
// first dot, which lets a scan reuse one answer per ending.
struct OddPatterns {
    QSet<QString> names;
    QStringList prefixes, suffixes;
    // Literal part that must occur, pattern (shared by all scan threads).
    QList<QPair<QString, QRegularExpression>> wild;
    bool complete = false; // false: no pattern list found, never reuse

    OddPatterns()
    {
        // The glob lists the MIME database itself reads (type properties
        // would make it parse every type's XML).
        const QRegularExpression plain(QStringLiteral("\\A\\*\\.[^*?\\[]+\\z"));
        const QStringList lists =
            QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("mime/globs2"));
        for (const QString& list : lists) {
            QFile file(list);
            if (!file.open(QIODevice::ReadOnly))
                return;
            while (!file.atEnd()) {
                const QList<QByteArray> parts = file.readLine().trimmed().split(':');
                if (parts.size() < 3 || parts.at(0).startsWith('#'))
                    continue;
                add(QString::fromUtf8(parts.at(2)).toLower(), plain);
            }
        }
        complete = !lists.isEmpty();
    }
    void add(const QString& glob, const QRegularExpression& plain)
    {
        if (plain.match(glob).hasMatch())
            return;
        const int star = glob.indexOf(QLatin1Char('*'));
        const bool other = glob.contains(QLatin1Char('?')) || glob.contains(QLatin1Char('['));
        if (star < 0 && !other)
            names.insert(glob);
        else if (!other && star == glob.size() - 1 && glob.count(QLatin1Char('*')) == 1)
            prefixes << glob.left(star);
        else if (!other && star == 0 && glob.count(QLatin1Char('*')) == 1)
            suffixes << glob.mid(1);
        else
            wild << qMakePair(longestLiteral(glob), QRegularExpression(QRegularExpression::wildcardToRegularExpression(glob),
                                                                       QRegularExpression::CaseInsensitiveOption));
        // The same in bytes, for names in plain ASCII.
        const QByteArray g = glob.toUtf8();
        if (star < 0 && !other) {
            namesB.insert(g);
        } else if (!other && star == glob.size() - 1 && glob.count(QLatin1Char('*')) == 1) {
            prefixesB << g.left(star);
        } else if (!other && star == 0 && glob.count(QLatin1Char('*')) == 1) {
            suffixesB << g.mid(1);
        } else {
            Wild w{g, longestLiteral(glob).toUtf8(), -1};
            // "*rest" with no other star: only the last characters count.
            if (star == 0 && glob.count(QLatin1Char('*')) == 1) {
                w.pattern = g.mid(1);
                w.tail = 0;
                for (int i = 0; i < w.pattern.size(); ++i, ++w.tail)
                    if (w.pattern.at(i) == '[')
                        while (i < w.pattern.size() && w.pattern.at(i) != ']')
                            ++i;
            }
            wildB << w;
        }
    }
    struct Wild {
        QByteArray pattern, literal;
        int tail; // characters "*rest" matches at the end, or -1
    };
    QSet<QByteArray> namesB;
    QList<QByteArray> prefixesB, suffixesB;
    QList<Wild> wildB;

    // -1: not plain ASCII (ask matches()); else whether an odd pattern fits.
    int matchesAscii(const char* name) const
    {
        if (!complete)
            return 1;
        char lower[512];
        size_t len = 0;
        for (; name[len]; ++len) {
            const unsigned char c = static_cast<unsigned char>(name[len]);
            if (c >= 0x80 || len + 1 >= sizeof lower)
                return -1;
            lower[len] = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
        lower[len] = 0;
        const QByteArray view = QByteArray::fromRawData(lower, int(len));
        if (namesB.contains(view))
            return 1;
        for (const QByteArray& p : prefixesB)
            if (view.startsWith(p))
                return 1;
        for (const QByteArray& x : suffixesB)
            if (view.endsWith(x))
                return 1;
        for (const Wild& w : wildB) {
            if (w.tail >= 0) {
                if (len >= size_t(w.tail) && ::fnmatch(w.pattern.constData(), lower + len - w.tail, 0) == 0)
                    return 1;
            } else if (std::strstr(lower, w.literal.constData())
                       && ::fnmatch(w.pattern.constData(), lower, 0) == 0) {
                return 1;
            }
        }
        return 0;
    }
    static QString longestLiteral(const QString& glob)
    {
        QString best, run;
        bool inSet = false;
        for (const QChar c : glob) {
            if (c == QLatin1Char('['))
                inSet = true;
            if (inSet || c == QLatin1Char('*') || c == QLatin1Char('?')) {
                if (run.size() > best.size())
                    best = run;
                run.clear();
            } else {
                run += c;
            }
            if (c == QLatin1Char(']'))
                inSet = false;
        }
        return run.size() > best.size() ? run : best;
    }
    bool matches(const QString& name) const
    {
        if (!complete)
            return true;
        const QString lower = name.toLower();
        if (names.contains(lower))
            return true;
        for (const QString& p : prefixes)
            if (lower.startsWith(p))
                return true;
        for (const QString& s : suffixes)
            if (lower.endsWith(s))
                return true;
        for (const auto& w : wild)
            if (lower.contains(w.first) && w.second.match(lower).hasMatch())
                return true;
        return false;
    }
};
const OddPatterns& odd()
{
    static const OddPatterns patterns;
    return patterns;
}
} // namespace

bool ReadDir::fileIsMedia(const QString& path)
{
    QFileInfo info(path);
    return identifyFile(info);
}

bool ReadDir::isMediaName(const QString& folder, const QString& name)
{
    if (odd().matches(name))
        return fileIsMedia(folder + name);
    const int dot = name.indexOf(QLatin1Char('.'));
    return isMediaEnding(QFile::encodeName(dot < 0 ? QString() : name.mid(dot)), name);
}

bool ReadDir::isMediaEnding(const QByteArray& ending, const QString& name)
{
    auto known = m_knownEndings.constFind(ending);
    if (known == m_knownEndings.constEnd())
        known = m_knownEndings.insert(QByteArray(ending.constData(), ending.size()), nameIsMedia(name));
    return *known;
}

bool ReadDir::isMediaEntry(const QString& folder, const char* name)
{
    const int odd_ = odd().matchesAscii(name);
    if (odd_ < 0)
        return isMediaName(folder, QFile::decodeName(name));
    if (odd_ > 0)
        return fileIsMedia(folder + QFile::decodeName(name));
    const char* dot = std::strchr(name, '.');
    const QByteArray ending = dot ? QByteArray::fromRawData(dot, int(std::strlen(dot))) : QByteArray();
    auto known = m_knownEndings.constFind(ending);
    if (known != m_knownEndings.constEnd())
        return *known;
    return isMediaEnding(ending, QFile::decodeName(name));
}

void ReadDir::run()
{
    // The walk needs no engine: it only names files.
    setTerminationEnabled(true);
    if (!QFileInfo(m_dirPath).isDir())
        return;

    // Depth first in the order the folders list their entries, entering a
    // subfolder where it is met (as QDirIterator walks). Hidden entries are
    // left out, links to folders are not followed (no loops), unreadable
    // folders list nothing.
    struct Open {
        DIR* handle;
        QByteArray path;  // ends with a slash
        QString prefix; // the path decoded
    };
    QVector<Open> open;
    const auto enter = [&open](const QByteArray& path) {
        // The root folder already ends with its slash.
        const QByteArray folder = path.endsWith('/') ? path : path + '/';
        if (DIR* handle = ::opendir(folder.constData()))
            open.append({handle, folder, QFile::decodeName(folder)});
    };
    // The names fnmatch() sees are plain ASCII: in the C locale it skips its
    // wide-character conversion (a good part of a large scan).
    static const locale_t cLocale = ::newlocale(LC_CTYPE_MASK, "C", locale_t(nullptr));
    const locale_t previous = cLocale ? ::uselocale(cLocale) : locale_t(nullptr);
    enter(QFile::encodeName(QDir(m_dirPath).absolutePath()));
    while (!open.isEmpty() && !getNeedQuit()) {
        const dirent* entry = ::readdir(open.last().handle);
        if (!entry) {
            ::closedir(open.takeLast().handle);
            continue;
        }
        if (entry->d_name[0] == '.')
            continue;
        bool isDir = entry->d_type == DT_DIR, isFile = entry->d_type == DT_REG;
        const QByteArray path = isFile ? QByteArray() : open.last().path + entry->d_name;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st;
            if (::lstat(path.constData(), &st) != 0)
                continue;
            isDir = S_ISDIR(st.st_mode);
            isFile = S_ISREG(st.st_mode)
                || (S_ISLNK(st.st_mode) && ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode));
        }
        if (isDir && m_isRecursion)
            enter(path);
        // A name not valid in the locale's encoding would not lead back to
        // its file: skipped.
        if (!isFile || !isMediaEntry(open.last().prefix, entry->d_name))
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (QFile::encodeName(name) == entry->d_name)
            m_medialist << QMediaContent(QUrl::fromLocalFile(open.last().prefix + name));
    }
    for (const Open& o : qAsConst(open))
        ::closedir(o.handle);
    if (cLocale)
        ::uselocale(previous);
    if (getNeedQuit()) {
        m_medialist.clear();
        return;
    }
    emit finishRead();
    qDebug("read dir finished \n");
    if (m_medialist.isEmpty()) {
        emit foundNothing();
        return;
    }
    auto* window = qobject_cast<korinplayer*>(parent());
    if (!window)
        return;
    // Playlist, model and views belong to the window's thread: hand the
    // batch over (never blocking, so closing the window cannot deadlock).
    QPointer<ReadDir> self(this);
    const QList<QMediaContent> batch = m_medialist;
    const bool playNow = m_playNow;
    QMetaObject::invokeMethod(
        window, [window, self, batch, playNow] { window->insertScanBatch(self, batch, playNow); },
        Qt::QueuedConnection);
    m_medialist.clear();
}
