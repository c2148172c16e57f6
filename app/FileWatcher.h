#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QStringList>

class QFileSystemWatcher;
class QTimer;

namespace ombrel {

// Follows a set of files and reports, once they have been quiet for a while, that one of them
// changed. Editors that save by writing a new file and renaming it over the old one are
// followed too: each file's folder is watched as well, and a file that comes back under its
// name is watched again and counts as changed.
class FileWatcher : public QObject {
    Q_OBJECT
public:
    // How long the files must stay quiet before changed() is sent.
    static constexpr int kQuietMs = 300;

    explicit FileWatcher(QObject* parent = nullptr);

    // Follows exactly `files` (absolute paths) from now on. Files followed already keep what was
    // seen of them, so a change made while the receiver was busy is not lost; an empty list
    // follows nothing and drops a change not yet reported.
    void watch(const QStringList& files);
    QStringList files() const { return files_; }

    // Reports the pending change again after the quiet time, for a receiver that could not act
    // on changed() at that moment.
    void retryLater();

signals:
    // One or more of the files changed (written, replaced, removed or created) and the files
    // have been quiet for kQuietMs since.
    void changed();

private:
    // What tells a file's versions apart: a write or a replacement changes at least one.
    struct Stamp {
        bool exists = false;
        qint64 size = 0;
        QDateTime modified;
        QDateTime statusChanged;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    static Stamp stampOf(const QString& path);

    void onFileChanged(const QString& path);
    void onFolderChanged(const QString& folder);
    // Watches again the files that exist but the system watcher has let go (after a rename).
    void rewatch();
    void touched();

    QFileSystemWatcher* watcher_;
    QTimer* quiet_;
    QStringList files_;
    QHash<QString, Stamp> stamps_;
};

} // namespace ombrel
