#include "app/FileWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>
#include <QTimer>

namespace ombrel {

FileWatcher::FileWatcher(QObject* parent)
    : QObject(parent), watcher_(new QFileSystemWatcher(this)), quiet_(new QTimer(this)) {
    quiet_->setSingleShot(true);
    quiet_->setInterval(kQuietMs);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &FileWatcher::onFileChanged);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FileWatcher::onFolderChanged);
    connect(quiet_, &QTimer::timeout, this, [this] {
        rewatch();
        emit changed();
    });
}

FileWatcher::Stamp FileWatcher::stampOf(const QString& path) {
    const QFileInfo info(path);
    Stamp stamp;
    stamp.exists = info.exists();
    if (stamp.exists) {
        stamp.size = info.size();
        stamp.modified = info.lastModified();
        stamp.statusChanged = info.metadataChangeTime();
    }
    return stamp;
}

void FileWatcher::watch(const QStringList& files) {
    // Lists are searched through sets: a city may draw from many thousands of images.
    QStringList wanted;
    QSet<QString> wantedSet;
    for (const QString& file : files) {
        if (!wantedSet.contains(file)) {
            wantedSet.insert(file);
            wanted.append(file);
        }
    }
    if (wanted == files_) {
        // What was seen of them stays, so a change made meanwhile is still told apart.
        return;
    }
    const QStringList watchedList = watcher_->files();
    const QSet<QString> watchedFiles(watchedList.begin(), watchedList.end());
    const QSet<QString> followed(files_.begin(), files_.end());
    for (const QString& file : std::as_const(files_)) {
        if (!wantedSet.contains(file)) {
            stamps_.remove(file);
            if (watchedFiles.contains(file)) {
                watcher_->removePath(file);
            }
        }
    }
    for (const QString& file : std::as_const(wanted)) {
        if (!followed.contains(file)) {
            stamps_.insert(file, stampOf(file));
            // Missing files are found again through their folders.
            if (QFileInfo::exists(file)) {
                watcher_->addPath(file);
            }
        }
    }
    files_ = wanted;
    QSet<QString> folders;
    for (const QString& file : std::as_const(files_)) {
        folders.insert(QFileInfo(file).absolutePath());
    }
    for (const QString& folder : watcher_->directories()) {
        if (!folders.contains(folder)) {
            watcher_->removePath(folder);
        }
    }
    const QStringList folderList = watcher_->directories();
    const QSet<QString> watchedFolders(folderList.begin(), folderList.end());
    for (const QString& folder : std::as_const(folders)) {
        if (!watchedFolders.contains(folder) && QFileInfo(folder).isDir()) {
            watcher_->addPath(folder);
        }
    }
    if (files_.isEmpty()) {
        quiet_->stop();
    }
}

void FileWatcher::retryLater() {
    quiet_->start();
}

void FileWatcher::touched() {
    // Every event starts the quiet time again: an editor's save is often several writes.
    quiet_->start();
}

void FileWatcher::onFileChanged(const QString& path) {
    if (!stamps_.contains(path)) {
        return;
    }
    stamps_[path] = stampOf(path);
    rewatch();
    touched();
}

void FileWatcher::onFolderChanged(const QString& folder) {
    // Something in the folder was created, removed or renamed: a followed file that now differs
    // from what was last seen of it has been replaced (or has gone, or come back).
    bool any = false;
    for (const QString& file : std::as_const(files_)) {
        if (QFileInfo(file).absolutePath() != QDir(folder).absolutePath()) {
            continue;
        }
        const Stamp now = stampOf(file);
        if (!(now == stamps_.value(file))) {
            stamps_[file] = now;
            any = true;
        }
    }
    if (any) {
        rewatch();
        touched();
    }
}

void FileWatcher::rewatch() {
    const QStringList watchedList = watcher_->files();
    const QSet<QString> watched(watchedList.begin(), watchedList.end());
    for (const QString& file : std::as_const(files_)) {
        if (!watched.contains(file) && QFileInfo::exists(file)) {
            watcher_->addPath(file);
        }
    }
}

} // namespace ombrel
