#include "TestSupport.h"

#include "app/CommandLine.h"

#include <QTest>

#include <string>
#include <vector>

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace ombrel {

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void parses_data() {
        QTest::addColumn<std::vector<std::string>>("args");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        using A = CommandLine::Action;
        const auto row = [](const char* name, std::vector<std::string> args, A action,
                            const char* file, const char* message) {
            QTest::newRow(name) << args << int(action) << QString::fromUtf8(file)
                                << QString::fromUtf8(message);
        };
        row("nothing", {}, A::Run, "", "");
        row("a file", {"city.xml"}, A::Run, "city.xml", "");
        row("standard input's name is a file", {"-"}, A::Run, "-", "");
        row("help", {"--help"}, A::Help, "", "");
        row("short help after a file", {"city.xml", "-h"}, A::Help, "", "");
        row("version", {"--version"}, A::Version, "", "");
        row("unknown option", {"--fly"}, A::Usage, "", "unknown option --fly");
        row("unknown option before help", {"-x", "--help"}, A::Usage, "", "unknown option -x");
        row("two files", {"a.xml", "b.xml"}, A::Usage, "",
            "only one construction file can be named, not also b.xml");
        row("after -- a dash name is a file", {"--", "--help"}, A::Run, "--help", "");
        // Qt's own options are Qt's, with their values, so they are read before any display.
        row("Qt's platform with its value", {"-platform", "offscreen", "city.xml"}, A::Run,
            "city.xml", "");
        row("Qt's options with = and two dashes", {"--style=fusion", "-reverse", "city.xml"},
            A::Run, "city.xml", "");
        row("Qt's display, then an unknown option", {"-display", ":9", "--bogus"}, A::Usage, "",
            "unknown option --bogus");
    }

    void parses() {
        QFETCH(std::vector<std::string>, args);
        QFETCH(int, action);
        QFETCH(QString, file);
        QFETCH(QString, message);
        const CommandLine line = parseCommandLine(args);
        QCOMPARE(int(line.action), action);
        QCOMPARE(QString::fromStdString(line.file), file);
        QCOMPARE(QString::fromStdString(line.message), message);
    }
};

OMBREL_TEST_CLASS(CommandLineTest)

} // namespace ombrel

#include "command_line_test.moc"
