#include "app/Settings.h"

#include <QSettings>

namespace ombrel {

namespace {

const QString kGroup = QStringLiteral("Settings");

int readInt(const QSettings& store, const QString& key, int fallback) {
    const QVariant v = store.value(key);
    if (!v.isValid()) {
        return fallback;
    }
    bool ok = false;
    const int value = v.toInt(&ok);
    return ok ? value : fallback;
}

} // namespace

Settings readSettings(QSettings& store) {
    Settings s;
    store.beginGroup(kGroup);
    s.cfgFile = store.value(QStringLiteral("cfgFile")).toString();
    s.lastSavedPath = store.value(QStringLiteral("lastSavedPath")).toString();
    s.triangulateEverything = readInt(store, QStringLiteral("triangulateEverything"), 1);
    s.collapseMode = readInt(store, QStringLiteral("collapseMode"), 0);
    s.saveRoads = readInt(store, QStringLiteral("saveRoads"), 1);
    s.watchFile = readInt(store, QStringLiteral("watchFile"), 1);
    s.mergeBlocks = readInt(store, QStringLiteral("mergeBlocks"), 0);
    store.endGroup();
    return s;
}

void writeSettings(QSettings& store, const Settings& s) {
    store.beginGroup(kGroup);
    store.setValue(QStringLiteral("cfgFile"), s.cfgFile);
    store.setValue(QStringLiteral("lastSavedPath"), s.lastSavedPath);
    store.setValue(QStringLiteral("triangulateEverything"), s.triangulateEverything);
    store.setValue(QStringLiteral("collapseMode"), s.collapseMode);
    store.setValue(QStringLiteral("saveRoads"), s.saveRoads);
    store.setValue(QStringLiteral("watchFile"), s.watchFile);
    store.setValue(QStringLiteral("mergeBlocks"), s.mergeBlocks);
    store.endGroup();
    store.sync();
}

} // namespace ombrel
