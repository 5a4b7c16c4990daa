// efis-cli's command line: global options, one command and the command's own
// options, in QCommandLineParser's conventions (--help, --version, and
// "efis-cli <command> --help" for each command). Global options may stand
// before or after the command.

#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>

#include "cli.h"
#include "cli_output.h"

namespace cli {

namespace {

typedef int (*CommandFunction)(const Invocation&);

// Which of the command-specific options a command takes.
enum CommandOption {
    kNoOption = 0,
    kJsonOption = 1,
    kLatestOption = 2,
    kStoreOption = 4,
};

struct Command {
    const char* name;
    const char* synopsis; // what follows the name in the help
    const char* summary;
    int options;          // CommandOption bits
    // Positional FILE arguments: 0, 1 (replaced by --latest where it is
    // offered), or -1 when the command checks its own arguments.
    int files;
    CommandFunction run;
};

const Command kCommands[] = {
    {"identify", "[--json]", "Transport, serial number, device type, hardware revision and firmware version.",
     kJsonOption, 0, identify},
    {"firmware", "FILE | --latest",
     "Write a firmware image into the unit and reboot it; a file the manifest lists must match its SHA-256 digest.",
     kLatestOption, 1, updateFirmware},
    {"airport-db", "FILE | --latest", "Write an airport database into the unit.", kLatestOption, 1, updateAirportDb},
    {"check-updates", "", "Compare the unit's firmware with the downloads manifest (exit status 10: newer offered).",
     kNoOption, 0, checkUpdates},
    {"reboot", "", "Ask the unit to restart.", kNoOption, 0, reboot},
    {"settings", "ACTION ...",
     "The unit's settings by the names of the settings file: show, get NAME..., set NAME=VALUE... (sent, stored and "
     "read back), export FILE, import FILE [--store], diff FILE (exit status 0 when equal, 1 when different, 2 when "
     "they cannot be compared).",
     kStoreOption, -1, settings},
};

const char kExitStatusHelp[] = "Exit status:\n"
                               "  0   success\n"
                               "  1   the operation failed\n"
                               "  2   usage error\n"
                               "  3   no unit found\n"
                               "  4   verification or digest failure\n"
                               "  10  a newer firmware is available (check-updates)\n";

// The options every command takes.
struct GlobalOptions {
    QCommandLineOption help = QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                                 QStringLiteral("Displays help on commandline options."));
    QCommandLineOption version = QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")},
                                                    QStringLiteral("Displays version information."));
    QCommandLineOption wait = QCommandLineOption(
        QStringLiteral("wait"), QStringLiteral("Wait up to <seconds> for a unit to appear instead of failing at once."),
        QStringLiteral("seconds"));
    QCommandLineOption verbose = QCommandLineOption(
        QStringLiteral("verbose"), QStringLiteral("Also print the link's diagnostic lines on standard output."));

    void addTo(QCommandLineParser* parser) const { parser->addOptions({help, version, wait, verbose}); }
};

const QCommandLineOption kJson(QStringLiteral("json"), QStringLiteral("Print one JSON object."));
const QCommandLineOption kLatest(QStringLiteral("latest"),
                                 QStringLiteral("Use the downloads manifest's package instead of a file."));
const QCommandLineOption kStore(QStringLiteral("store"),
                                QStringLiteral("import: have the unit store the settings and read them back."));

QString programName(const QStringList& arguments)
{
    return QFileInfo(arguments.first()).fileName();
}

// The parser's help with the program's name in the usage line instead of the path it was started by.
QString helpText(const QCommandLineParser& parser, const QStringList& arguments)
{
    QString text = parser.helpText();
    const int end_of_usage = text.indexOf(QLatin1Char('\n'));
    QString usage = text.left(end_of_usage);
    usage.replace(arguments.first(), programName(arguments));
    return usage + text.mid(end_of_usage);
}

void printToStandardOutput(const QString& text)
{
    fputs(text.toLocal8Bit().constData(), stdout);
    fflush(stdout);
}

int usageError(const QStringList& arguments, const QString& message)
{
    printError(QStringLiteral("%1 (see %2 --help)").arg(message, programName(arguments)));
    return kExitUsage;
}

const Command* findCommand(const QString& name)
{
    for (const Command& command : kCommands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

// Each command with its summary beside it, wrapped to the width of the options above.
QString commandList()
{
    const int indent = 30;
    const int width = 79;
    QString text = QStringLiteral("Commands:\n");
    for (const Command& command : kCommands) {
        const QString call = QStringLiteral("%1 %2").arg(QLatin1String(command.name), QLatin1String(command.synopsis));
        QString line = QStringLiteral("  %1").arg(call.trimmed(), -(indent - 2));
        for (const QString& word : QString::fromLatin1(command.summary).split(QLatin1Char(' '))) {
            if (line.size() + 1 + word.size() > width && line.size() > indent) {
                text += line + QLatin1Char('\n');
                line = QString(indent, QLatin1Char(' '));
            }
            line += QLatin1Char(' ') + word;
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString topHelp(QCommandLineParser& parser, const QStringList& arguments)
{
    return helpText(parser, arguments) + QStringLiteral("\n") + commandList()
           + QStringLiteral("\nRun \"%1 <command> --help\" for a command's own options.\n\n")
                 .arg(programName(arguments))
           + QLatin1String(kExitStatusHelp);
}

// Global options count wherever they stand; the later parser's value wins.
bool takeGlobalOptions(const QCommandLineParser& parser, const GlobalOptions& global, Invocation* invocation,
                       QString* error)
{
    invocation->verbose = invocation->verbose || parser.isSet(global.verbose);
    if (!parser.isSet(global.wait))
        return true;
    bool ok = false;
    const QString text = parser.value(global.wait);
    invocation->waitSeconds = text.toInt(&ok);
    if (!ok || invocation->waitSeconds < 0) {
        *error = QStringLiteral("--wait takes a whole number of seconds, not \"%1\"").arg(text);
        return false;
    }
    return true;
}

void configureCommandParser(QCommandLineParser* parser, const Command& command, const GlobalOptions& global)
{
    parser->setApplicationDescription(QLatin1String(command.summary));
    global.addTo(parser);
    if (command.options & kJsonOption)
        parser->addOption(kJson);
    if (command.options & kLatestOption)
        parser->addOption(kLatest);
    if (command.options & kStoreOption)
        parser->addOption(kStore);
    parser->addPositionalArgument(QLatin1String(command.name), QStringLiteral("The command."));
    if (command.files < 0)
        parser->addPositionalArgument(QStringLiteral("ACTION"), QLatin1String(kSettingsActions),
                                      QStringLiteral("ACTION ..."));
    if (command.files > 0)
        parser->addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The file to write (or --latest)."),
                                      QStringLiteral("FILE"));
}

// -1 to go on with `invocation` filled; otherwise the status to exit with.
int parseCommand(const Command& command, const QStringList& arguments, const QStringList& rest,
                 const GlobalOptions& global, Invocation* invocation)
{
    QCommandLineParser parser;
    configureCommandParser(&parser, command, global);
    QString error;
    if (!parser.parse(QStringList{arguments.first(), QLatin1String(command.name)} + rest))
        return usageError(arguments, parser.errorText());
    if (parser.isSet(global.help)) {
        printToStandardOutput(helpText(parser, arguments) + QStringLiteral("\n") + QLatin1String(kExitStatusHelp));
        return kExitSuccess;
    }
    if (!takeGlobalOptions(parser, global, invocation, &error))
        return usageError(arguments, error);
    invocation->json = (command.options & kJsonOption) && parser.isSet(kJson);
    invocation->latest = (command.options & kLatestOption) && parser.isSet(kLatest);
    invocation->store = (command.options & kStoreOption) && parser.isSet(kStore);
    invocation->arguments = parser.positionalArguments().mid(1);
    if (command.files < 0)
        return -1;
    const int files_expected = invocation->latest ? 0 : command.files;
    if (invocation->arguments.size() != files_expected) {
        const QString wanted = command.files == 0 ? QStringLiteral("takes no arguments")
                               : invocation->latest ? QStringLiteral("takes no FILE with --latest")
                                                    : QStringLiteral("needs one FILE or --latest");
        return usageError(arguments, QStringLiteral("%1 %2").arg(QLatin1String(command.name), wanted));
    }
    return -1;
}

} // namespace

int run(const QStringList& arguments, const ManifestSources& sources)
{
    const GlobalOptions global;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Configures a Corvane EFIS display unit over USB HID or CAN FD from a terminal or a script."));
    global.addTo(&parser);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands below."),
                                 QStringLiteral("<command> [arguments]"));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(arguments))
        return usageError(arguments, parser.errorText());

    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(global.help)) {
        printToStandardOutput(topHelp(parser, arguments));
        return kExitSuccess;
    }
    if (parser.isSet(global.version)) {
        printToStandardOutput(
            QStringLiteral("%1 %2\n").arg(programName(arguments), QCoreApplication::applicationVersion()));
        return kExitSuccess;
    }
    if (positional.isEmpty())
        return usageError(arguments, QStringLiteral("no command given"));
    const Command* command = findCommand(positional.first());
    if (command == nullptr)
        return usageError(arguments, QStringLiteral("unknown command \"%1\"").arg(positional.first()));

    Invocation invocation;
    invocation.sources = sources;
    QString error;
    if (!takeGlobalOptions(parser, global, &invocation, &error))
        return usageError(arguments, error);
    const int parsed = parseCommand(*command, arguments, positional.mid(1), global, &invocation);
    if (parsed >= 0)
        return parsed;

    if (!invocation.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    routeLinkLines(invocation.verbose);
    return command->run(invocation);
}

} // namespace cli
