#include "TestSupport.h"

#include "app/AppSetup.h"
#include "app/Settings.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace ombrel {

class SettingsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path() const { return dir_.filePath(QStringLiteral("store.conf")); }

private slots:
    void init() { QFile::remove(path()); }

    void emptyStoreGivesTheDefaults() {
        QSettings store(path(), QSettings::IniFormat);
        const Settings s = readSettings(store);
        QCOMPARE(s.cfgFile, QString());
        QCOMPARE(s.lastSavedPath, QString());
        QCOMPARE(s.triangulateEverything, 1);
        QCOMPARE(s.collapseMode, 0);
        QCOMPARE(s.saveRoads, 1);
        QCOMPARE(s.watchFile, 1);
        QCOMPARE(s.mergeBlocks, 0);
    }

    void roundTrip() {
        const Settings written{
            QStringLiteral("/tmp/a b/city.xml"), QStringLiteral("/tmp/out.wrl"), 0, 2, 0, 0, 1};
        {
            QSettings store(path(), QSettings::IniFormat);
            writeSettings(store, written);
        }
        QSettings store(path(), QSettings::IniFormat);
        QCOMPARE(readSettings(store), written);
        for (const char* key : {"cfgFile", "lastSavedPath", "triangulateEverything", "collapseMode",
                                "saveRoads", "watchFile", "mergeBlocks"}) {
            QVERIFY2(store.contains(QStringLiteral("Settings/") + QLatin1String(key)), key);
        }
    }

    void unreadableIntegers_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("text for triangulate") << "triangulateEverything"
                                              << "yes" << 1;
        QTest::newRow("text for collapse") << "collapseMode"
                                           << "model" << 0;
        QTest::newRow("empty for roads") << "saveRoads"
                                         << "" << 1;
        QTest::newRow("out of range kept") << "collapseMode"
                                           << "7" << 7;
        QTest::newRow("negative kept") << "saveRoads"
                                       << "-3" << -3;
    }
    void unreadableIntegers() {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(int, expected);
        {
            QSettings store(path(), QSettings::IniFormat);
            store.setValue(QStringLiteral("Settings/") + key, stored);
        }
        QSettings store(path(), QSettings::IniFormat);
        const Settings s = readSettings(store);
        const int got = key == "triangulateEverything" ? s.triangulateEverything
                        : key == "collapseMode"        ? s.collapseMode
                                                       : s.saveRoads;
        QCOMPARE(got, expected);
    }

    // scripts/first-run-settings writes the store file directly; the program must read back the
    // exact path, and a store that already names a file must stay as it is.
    void firstRunScriptNamesTheExample() {
        QTemporaryDir home;
        const QString folder = home.filePath(QStringLiteral("my \"odd\" cities"));
        QVERIFY(QDir().mkpath(folder));
        const QString city = folder + QStringLiteral("/a\\b.xml");
        QFile f(city);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();

        auto runScript = [&home](const QString& file) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
            p.setProcessEnvironment(env);
            p.start(test::sourceDir() + QStringLiteral("/scripts/first-run-settings"), {file});
            return p.waitForFinished(30000) && p.exitCode() == 0;
        };
        const QString conf = home.filePath(QStringLiteral("Ombrel/Ombrel.conf"));
        QVERIFY(runScript(city));
        {
            QSettings store(conf, QSettings::IniFormat);
            QCOMPARE(readSettings(store).cfgFile, city);
        }
        const QString other = test::sourceDir() + QStringLiteral("/examples/town/town.xml");
        QVERIFY(runScript(other));
        QSettings store(conf, QSettings::IniFormat);
        QCOMPARE(readSettings(store).cfgFile, city);
    }

    void theProgramsStoreIsIsolatedHere() {
        // main() of this test moved the user's store into a temporary folder.
        std::unique_ptr<QSettings> store = openSettingsStore();
        QVERIFY(!store->fileName().startsWith(QDir::homePath() + QStringLiteral("/.config")));
        QVERIFY(store->fileName().endsWith(QStringLiteral("Ombrel/Ombrel.conf")));
    }
};

OMBREL_TEST_CLASS(SettingsTest)

} // namespace ombrel

#include "settings_test.moc"
