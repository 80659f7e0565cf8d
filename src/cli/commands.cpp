#include "commands.h"

#include "boxlink.h"
#include "common/core/safefile.h"
#include "device/core/portscan.h"
#include "device/core/settingsframes.h"
#include "device/core/tableimage.h"
#include "playcommand.h"
#include "table/core/rulemodel.h"
#include "tablefiles.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <cerrno>
#include <optional>

namespace vl::cli {

namespace {

const QString kProgram = QStringLiteral("varilume-cli");

const char kMainHelp[] = R"(Usage: varilume-cli <command> [options]

Reads, writes and converts the rule table and the settings of a KVR-9000 box without
the editor. The workbooks and table images are the ones the editor reads and writes.

Commands:
  ports            List the boxes the editor's port list would show.
  read             Read the box's rule table into a workbook or as text.
  write            Write a workbook's rule table to the box.
  settings         Show the box's settings, or change them.
  factory-reset    Restore the box's factory state.
  image            Build the table image that Set would send for a workbook.
  decode           Turn a table image into the workbook Read would give.
  play             Play a MIDI file through the light preview's rules onto DMX (OLA).

"varilume-cli <command> --help" describes a command.

Exit status: 0 on success, 1 when the command failed, 2 for a mistake in the command
line. A failure is reported in one line on standard error.

Files: an output file is replaced whole or not at all (a temporary file beside it is
renamed over it), keeps its mode, and a new one gets the mode the umask allows. A
symbolic link is written through. A character device or a named pipe (FIFO) given as
output gets the bytes as they are; no other special file is written to. Inputs must be
regular files.

Ctrl+C, SIGTERM and SIGHUP end a command at once, whatever it is doing: it says
"interrupted", removes the file it was writing, and ends as the signal ends a program.
)";

const char kBoxOptionsHelp[] = R"(
  -p, --port <port>      The box: its description as "varilume-cli ports" lists it,
                         or a device path such as /dev/ttyACM0 (a pseudo-terminal too).
  -t, --timeout <s>      Seconds the box may stay silent while an answer is awaited
                         (default 10). Every byte received or sent restarts the clock,
                         so a slow box that keeps sending is waited for.
  -h, --help             Show this help.
)";

const char kPortsHelp[] = R"(Usage: varilume-cli ports

Lists the boxes the editor's port list would show, one a line: the box's USB
description, a tab and its device path. These are the USB serial devices whose
description begins with "Nemora", and any running simulated box. Prints nothing when
there is none.

  -h, --help             Show this help.
)";

const char kReadHelp[] = R"(Usage: varilume-cli read --port <port> -o <file> [--naming C3|C4|C5] [--timeout <s>]
                         [--ignore-checksum]

Connects to the box as the editor's Connect does, asks for its rule table as Read does
and saves it:
  <file>.xlsx (or any other name)  the workbook the editor's Save writes after a Read,
                                   with empty remarks;
  <file>.tsv                       the table as tab-separated text;
  -                                that text on standard output.
The text has a line of column titles, then one line per rule row with the cells as the
editor shows them. Nothing is written unless the whole table arrived. A table whose
checksum does not match its records, or whose header is wrong, was damaged on its way
and is not saved either, unless --ignore-checksum is given.

  -o, --output <file>    Where the table goes.
  --naming C3|C4|C5      The name of MIDI note 60 in the text ("60 / C3"). The default
                         is C3, the editor's own default. Workbooks hold the numbers only.
  --ignore-checksum      Save a damaged table all the same (with a warning).)";

const char kWriteHelp[] = R"(Usage: varilume-cli write --port <port> [--timeout <s>] <file.xlsx>

Opens the workbook as the editor's Open File does and checks it as Set does: the table
needs all 3072 rows, and every complete rule must hold values the box can take (the
first row and column that does not is named). Then connects to the box, sends the table
image in 256-byte pieces and waits for the box's "download success".
)";

const char kSettingsHelp[] = R"(Usage: varilume-cli settings --port <port> [--break-time <us>] [--mark-after-break <us>]
                             [--coefficient <c>] [--sleep <s>] [--timeout <s>]

Without a value option, prints the settings the box reports:
  break-time: 200 us
  mark-after-break: 50 us
  coefficient: 1
  sleep: 30 s
With value options, sends each of them as the settings dialogs do (in the order above),
waits for the box to acknowledge every one, then prints the settings the box reports
afterwards; a value the box does not report back is an error. The values are the
dialogs' choices:
  --break-time <us>          DMX break time: 100, 120, ... 1000 microseconds.
  --mark-after-break <us>    DMX mark-after-break: 50, 70, ... 510 microseconds.
  --coefficient <c>          DMX value = MIDI value * coefficient: 1, 2, 2.01, 3, 4, 5.
  --sleep <s>                Sleep time: 10, 20, ... 60 seconds.)";

const char kFactoryHelp[] = R"(Usage: varilume-cli factory-reset --port <port> --yes [--timeout <s>]

Sends the factory reset the editor's Factory Reset sends and waits for the box to
acknowledge it. The box then runs its default settings and may hold an empty table.

  --yes                  Do it. Without it nothing is sent.)";

const char kImageHelp[] = R"(Usage: varilume-cli image <file.xlsx> -o <file.bin>

Writes the 24 844-byte table image the editor's Set would send for the workbook, after
the same checks as "write". "-o -" writes it to standard output.

  -o, --output <file>    Where the image goes.
  -h, --help             Show this help.
)";

const char kDecodeHelp[] = R"(Usage: varilume-cli decode <file.bin> -o <file> [--naming C3|C4|C5] [--ignore-checksum]

Turns a 24 844-byte table image (as "image" writes it or a simulated box keeps it) into
the table the editor shows after reading that image from a box, and saves it as "read"
does: a workbook, a .tsv file, or "-" for text on standard output. A file that is not
such an image is refused. So is an image whose checksum does not match its records,
since it has been damaged; --ignore-checksum decodes it anyway.

  -o, --output <file>    Where the table goes.
  --naming C3|C4|C5      The name of MIDI note 60 in the text (default C3).
  --ignore-checksum      Decode an image whose checksum is wrong.
  -h, --help             Show this help.
)";

class Cli {
public:
    Cli(QIODevice &out, QIODevice &err) : m_out(out), m_err(err) {}

    int run(const QStringList &arguments);

private:
    int ports(const QStringList &args);
    int read(const QStringList &args);
    int write(const QStringList &args);
    int settings(const QStringList &args);
    int factoryReset(const QStringList &args);
    int image(const QStringList &args);
    int decode(const QStringList &args);
    int play(const QStringList &args) { return playSong(args, m_out, m_err); }

    // Parses a command's arguments; false after help or a usage message (see m_status).
    bool parse(QCommandLineParser &parser, const QStringList &args, const char *help, int positional,
               const QString &positionalName = QString());
    bool boxOptions(QCommandLineParser &parser, QString *port, int *timeoutMs);
    std::optional<int> naming(QCommandLineParser &parser);
    bool resolvePort(const QString &given, QString *port);
    bool checkOutput(const QString &path);
    bool writeTable(const RuleModel &rules, const QString &path);
    bool writeBytes(const QByteArray &bytes, const QString &path);
    // The image Set would send for the workbook `file`, saying on the way what Open File and
    // Set would say of it; false after the failure line (`refusal` ends it).
    bool workbookImage(const QString &file, const QString &refusal, QByteArray *image);

    int fail(const QString &line);
    int usage(const QString &line);
    // A line on standard error that does not end the command.
    void warn(const QString &line);
    void print(const QByteArray &bytes) { m_out.write(bytes); }

    QIODevice &m_out;
    QIODevice &m_err;
    QString m_command;
    int m_status = ExitOk;
};

int Cli::fail(const QString &line)
{
    const QString prefix = m_command.isEmpty() ? kProgram : kProgram + QLatin1Char(' ') + m_command;
    m_err.write((prefix + QStringLiteral(": ") + line + QLatin1Char('\n')).toUtf8());
    m_status = ExitFailed;
    return ExitFailed;
}

void Cli::warn(const QString &line)
{
    m_err.write(QStringLiteral("%1 %2: warning: %3\n").arg(kProgram, m_command, line).toUtf8());
}

int Cli::usage(const QString &line)
{
    const QString help = m_command.isEmpty() ? kProgram + QStringLiteral(" --help")
                                             : kProgram + QLatin1Char(' ') + m_command + QStringLiteral(" --help");
    fail(QStringLiteral("%1 (see \"%2\")").arg(line, help));
    m_status = ExitUsage;
    return ExitUsage;
}

bool Cli::parse(QCommandLineParser &parser, const QStringList &args, const char *help, int positional,
                const QString &positionalName)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QString()});
    if (!parser.parse(QStringList{kProgram} + args)) {
        usage(parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        print(help);
        m_status = ExitOk;
        return false;
    }
    const QStringList rest = parser.positionalArguments();
    if (rest.size() < positional) {
        usage(QStringLiteral("%1 is missing").arg(positionalName));
        return false;
    }
    if (rest.size() > positional) {
        usage(QStringLiteral("unexpected argument \"%1\"").arg(oneLine(rest.at(positional))));
        return false;
    }
    return true;
}

// --port and --timeout, added before parsing by the commands that talk to a box.
void addBoxOptions(QCommandLineParser &parser)
{
    parser.addOption({{QStringLiteral("p"), QStringLiteral("port")}, QString(), QStringLiteral("port")});
    parser.addOption({{QStringLiteral("t"), QStringLiteral("timeout")}, QString(), QStringLiteral("seconds")});
}

void addOutputOption(QCommandLineParser &parser)
{
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("file")});
}

bool Cli::boxOptions(QCommandLineParser &parser, QString *port, int *timeoutMs)
{
    if (!parser.isSet(QStringLiteral("port"))) {
        usage(QStringLiteral("--port is missing"));
        return false;
    }
    *port = parser.value(QStringLiteral("port"));
    *timeoutMs = BoxLink::kDefaultTimeoutMs;
    if (parser.isSet(QStringLiteral("timeout"))) {
        bool ok = false;
        const double seconds = parser.value(QStringLiteral("timeout")).toDouble(&ok);
        if (!ok || !(seconds >= 0.05 && seconds <= 3600)) {
            usage(QStringLiteral("--timeout takes seconds from 0.05 to 3600, not \"%1\"")
                      .arg(oneLine(parser.value(QStringLiteral("timeout")))));
            return false;
        }
        *timeoutMs = int(seconds * 1000);
    }
    return true;
}

std::optional<int> Cli::naming(QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("naming")))
        return kDefaultNaming;
    const QString value = parser.value(QStringLiteral("naming"));
    const QStringList names = {QStringLiteral("C3"), QStringLiteral("C4"), QStringLiteral("C5")};
    const int at = names.indexOf(value.toUpper());
    if (at < 0) {
        usage(QStringLiteral("--naming takes C3, C4 or C5, not \"%1\"").arg(oneLine(value)));
        return std::nullopt;
    }
    return at + 1;
}

bool Cli::resolvePort(const QString &given, QString *port)
{
    for (const PortListItem &item : currentBoxPorts()) {
        if (item.text == given) {
            *port = item.portName;
            return true;
        }
    }
    const QString path = given.contains(QLatin1Char('/')) ? given : QStringLiteral("/dev/") + given;
    if (!given.isEmpty() && QFileInfo::exists(path)) {
        *port = given;
        return true;
    }
    fail(QStringLiteral("no such port: \"%1\" is neither a box \"%2 ports\" lists nor a device")
             .arg(oneLine(given, 80), kProgram));
    return false;
}

bool Cli::checkOutput(const QString &path)
{
    if (path.isEmpty()) {
        usage(QStringLiteral("-o is missing"));
        return false;
    }
    if (path == QLatin1String("-"))
        return true;
    // Before any box is asked or any file read: a table read for nothing is time lost.
    FileProblem problem;
    if (canWriteFileWhole(path, SpecialTarget::Stream, &problem))
        return true;
    fail(QStringLiteral("cannot write %1: %2").arg(path, problem.reason));
    return false;
}

bool isTextName(const QString &path)
{
    return path == QLatin1String("-") || path.endsWith(QLatin1String(".tsv"), Qt::CaseInsensitive);
}

bool Cli::writeBytes(const QByteArray &bytes, const QString &path)
{
    if (path == QLatin1String("-")) {
        print(bytes);
        return true;
    }
    FileProblem problem;
    if (writeFileWhole(path, bytes, SpecialTarget::Stream, &problem))
        return true;
    fail(QStringLiteral("cannot write %1: %2").arg(path, oneLine(problem.reason, 200)));
    return false;
}

bool Cli::writeTable(const RuleModel &rules, const QString &path)
{
    if (isTextName(path))
        return writeBytes(tableAsText(rules), path);
    QString error;
    if (saveRuleWorkbook(rules, path, &error))
        return true;
    fail(QStringLiteral("%1: %2").arg(path, error));
    return false;
}

// --- the commands -------------------------------------------------------------------------

int Cli::ports(const QStringList &args)
{
    QCommandLineParser parser;
    if (!parse(parser, args, kPortsHelp, 0))
        return m_status;
    QByteArray text;
    for (const PortListItem &item : currentBoxPorts()) {
        const QString path = item.portName.contains(QLatin1Char('/')) ? item.portName
                                                                      : QStringLiteral("/dev/") + item.portName;
        text += (oneLine(item.text, 200) + QLatin1Char('\t') + path + QLatin1Char('\n')).toUtf8();
    }
    print(text);
    return ExitOk;
}

int Cli::read(const QStringList &args)
{
    QCommandLineParser parser;
    addBoxOptions(parser);
    addOutputOption(parser);
    parser.addOption({QStringLiteral("naming"), QString(), QStringLiteral("name")});
    parser.addOption({QStringLiteral("ignore-checksum"), QString()});
    if (!parse(parser, args, (QByteArray(kReadHelp) + kBoxOptionsHelp).constData(), 0))
        return m_status;
    QString given;
    int timeoutMs = 0;
    if (!boxOptions(parser, &given, &timeoutMs))
        return m_status;
    const std::optional<int> cnum = naming(parser);
    const QString output = parser.value(QStringLiteral("output"));
    if (!cnum || !checkOutput(output))
        return m_status;
    QString port;
    if (!resolvePort(given, &port))
        return m_status;

    BoxLink link(timeoutMs);
    QByteArrayList records;
    QString damage;
    if (!link.open(port) || !link.connectToBox()
        || !link.readTable(&records, parser.isSet(QStringLiteral("ignore-checksum")), &damage))
        return fail(link.error());
    link.close();
    if (!damage.isEmpty())
        warn(QStringLiteral("the table read from the box is damaged: %1; it is saved as it came").arg(damage));

    RuleModel rules;
    applyUploadedRecords(rules, records, *cnum);
    return writeTable(rules, output) ? ExitOk : m_status;
}

bool Cli::workbookImage(const QString &file, const QString &refusal, QByteArray *image)
{
    RuleModel rules;
    QString error;
    QStringList notes;
    if (!loadRuleWorkbook(file, rules, &error, &notes)) {
        fail(QStringLiteral("%1: %2").arg(file, error));
        return false;
    }
    for (const QString &note : qAsConst(notes))
        warn(QStringLiteral("%1: %2").arg(file, oneLine(note, 240)));
    QString warning;
    if (!imageForSet(rules, refusal, image, &error, &warning)) {
        fail(QStringLiteral("%1: %2").arg(file, error));
        return false;
    }
    if (!warning.isEmpty())
        warn(QStringLiteral("%1: %2").arg(file, warning));
    return true;
}

int Cli::write(const QStringList &args)
{
    QCommandLineParser parser;
    addBoxOptions(parser);
    if (!parse(parser, args, (QByteArray(kWriteHelp) + kBoxOptionsHelp).constData(), 1, QStringLiteral("the workbook")))
        return m_status;
    QString given;
    int timeoutMs = 0;
    if (!boxOptions(parser, &given, &timeoutMs))
        return m_status;
    const QString file = parser.positionalArguments().first();

    QByteArray image;
    if (!workbookImage(file, QStringLiteral("Nothing was sent to the device."), &image))
        return m_status;

    QString port;
    if (!resolvePort(given, &port))
        return m_status;
    BoxLink link(timeoutMs);
    if (!link.open(port) || !link.connectToBox() || !link.writeImage(image))
        return fail(link.error());
    return ExitOk;
}

struct SettingChoice {
    DeviceSetting setting;
    const char *option;
    const QStringList &(*choices)();
};

const SettingChoice kSettingOptions[] = {
    {DeviceSetting::BreakTime, "break-time", breakTimeChoices},
    {DeviceSetting::MarkAfterBreak, "mark-after-break", markAfterBreakChoices},
    {DeviceSetting::Coefficient, "coefficient", coefficientChoices},
    {DeviceSetting::SleepTime, "sleep", sleepTimeChoices},
};

QString choicesText(const QStringList &choices)
{
    if (choices.size() <= 8)
        return choices.join(QStringLiteral(", "));
    return QStringLiteral("%1, %2, ... %3").arg(choices.at(0), choices.at(1), choices.last());
}

QByteArray settingsText(const DeviceSettings &s)
{
    const QStringList &coefficients = coefficientChoices();
    const QString coefficient = s.coefficientCode >= 0 && s.coefficientCode < coefficients.size()
                                    ? coefficients.at(s.coefficientCode)
                                    : QStringLiteral("unknown (code %1)").arg(s.coefficientCode);
    return QStringLiteral("break-time: %1 us\nmark-after-break: %2 us\ncoefficient: %3\nsleep: %4 s\n")
        .arg(s.breakTime)
        .arg(s.markAfterBreak)
        .arg(coefficient)
        .arg(s.sleepCode * 10)
        .toUtf8();
}

// The value the box reports for a setting, in the units a settings command carries.
int reportedValue(const DeviceSettings &s, DeviceSetting setting)
{
    switch (setting) {
    case DeviceSetting::BreakTime: return s.breakTime;
    case DeviceSetting::MarkAfterBreak: return s.markAfterBreak;
    case DeviceSetting::Coefficient: return s.coefficientCode;
    case DeviceSetting::SleepTime: return s.sleepCode;
    case DeviceSetting::FactoryReset: break;
    }
    return -1;
}

int Cli::settings(const QStringList &args)
{
    QCommandLineParser parser;
    addBoxOptions(parser);
    for (const SettingChoice &c : kSettingOptions)
        parser.addOption({QString::fromLatin1(c.option), QString(), QStringLiteral("value")});
    if (!parse(parser, args, (QByteArray(kSettingsHelp) + kBoxOptionsHelp).constData(), 0))
        return m_status;
    QString given;
    int timeoutMs = 0;
    if (!boxOptions(parser, &given, &timeoutMs))
        return m_status;

    struct Change {
        const SettingChoice *option;
        QString text;
        int value;
    };
    QList<Change> changes;
    for (const SettingChoice &c : kSettingOptions) {
        const QString name = QString::fromLatin1(c.option);
        if (!parser.isSet(name))
            continue;
        const QString text = parser.value(name);
        const int position = c.choices().indexOf(text);
        if (position < 0)
            return usage(
                QStringLiteral("--%1 takes one of %2, not \"%3\"").arg(name, choicesText(c.choices()), oneLine(text)));
        changes << Change{&c, text, settingValueForChoice(c.setting, position)};
    }

    QString port;
    if (!resolvePort(given, &port))
        return m_status;
    BoxLink link(timeoutMs);
    if (!link.open(port) || !link.connectToBox())
        return fail(link.error());
    if (!changes.isEmpty()) {
        // What the box has acknowledged is applied, whatever fails after it: a failure
        // says so rather than leave the user to think nothing changed.
        QStringList applied;
        const auto failAfter = [&](const QString &error) {
            if (applied.isEmpty())
                return fail(error);
            return fail(QStringLiteral("%1, after it had applied %2").arg(error, applied.join(QStringLiteral(", "))));
        };
        for (const Change &change : qAsConst(changes)) {
            const bool sent = link.sendSetting(change.option->setting, quint16(change.value));
            if (link.settingAcknowledged())
                applied << QStringLiteral("--%1 %2").arg(QString::fromLatin1(change.option->option), change.text);
            if (!sent)
                return failAfter(link.error());
        }
        if (!link.refreshSettings())
            return failAfter(link.error());
    }
    const DeviceSettings reported = link.settings();
    link.close();
    print(settingsText(reported));
    for (const Change &change : qAsConst(changes))
        if (reportedValue(reported, change.option->setting) != change.value)
            return fail(QStringLiteral("the box did not take --%1 %2: it reports the settings above")
                            .arg(QString::fromLatin1(change.option->option), change.text));
    return ExitOk;
}

int Cli::factoryReset(const QStringList &args)
{
    QCommandLineParser parser;
    addBoxOptions(parser);
    parser.addOption({QStringLiteral("yes"), QString()});
    if (!parse(parser, args, (QByteArray(kFactoryHelp) + kBoxOptionsHelp).constData(), 0))
        return m_status;
    QString given;
    int timeoutMs = 0;
    if (!boxOptions(parser, &given, &timeoutMs))
        return m_status;
    if (!parser.isSet(QStringLiteral("yes")))
        return usage(QStringLiteral("a factory reset restores the box's factory settings and may empty its rule "
                                    "table; add --yes to do it"));
    QString port;
    if (!resolvePort(given, &port))
        return m_status;
    BoxLink link(timeoutMs);
    if (!link.open(port) || !link.connectToBox())
        return fail(link.error());
    if (!link.sendFactoryReset()) {
        if (!link.settingAcknowledged())
            return fail(link.error());
        // The box acknowledged the reset, so it has been done; only the table it sends
        // after every setting did not come.
        warn(QStringLiteral("the box applied the factory reset; afterwards: %1").arg(link.error()));
    }
    return ExitOk;
}

int Cli::image(const QStringList &args)
{
    QCommandLineParser parser;
    addOutputOption(parser);
    if (!parse(parser, args, kImageHelp, 1, QStringLiteral("the workbook")))
        return m_status;
    const QString file = parser.positionalArguments().first();
    const QString output = parser.value(QStringLiteral("output"));
    if (!checkOutput(output))
        return m_status;
    QByteArray image;
    if (!workbookImage(file, QStringLiteral("No image was written."), &image))
        return m_status;
    return writeBytes(image, output) ? ExitOk : m_status;
}

int Cli::decode(const QStringList &args)
{
    QCommandLineParser parser;
    addOutputOption(parser);
    parser.addOption({QStringLiteral("naming"), QString(), QStringLiteral("name")});
    parser.addOption({QStringLiteral("ignore-checksum"), QString()});
    if (!parse(parser, args, kDecodeHelp, 1, QStringLiteral("the image file")))
        return m_status;
    const QString file = parser.positionalArguments().first();
    const QString output = parser.value(QStringLiteral("output"));
    const std::optional<int> cnum = naming(parser);
    if (!cnum || !checkOutput(output))
        return m_status;

    QByteArray bytes;
    FileProblem problem;
    if (!readRegularFile(file, kImageSize, &bytes, &problem)) {
        if (problem.code == EFBIG)
            bytes = QByteArray(kImageSize + 1, '\0');  // refused below, as too long
        else
            return fail(QStringLiteral("cannot read %1: %2").arg(file, problem.reason));
    }
    QByteArrayList records;
    QString error;
    if (!recordsOfImage(bytes, parser.isSet(QStringLiteral("ignore-checksum")), &records, &error))
        return fail(QStringLiteral("%1: %2").arg(file, error));
    RuleModel rules;
    applyUploadedRecords(rules, records, *cnum);
    return writeTable(rules, output) ? ExitOk : m_status;
}

int Cli::run(const QStringList &arguments)
{
    const QStringList args = arguments.mid(1);
    if (args.isEmpty())
        return usage(QStringLiteral("no command given"));
    const QString command = args.first();
    if (command == QLatin1String("-h") || command == QLatin1String("--help") || command == QLatin1String("help")) {
        print(kMainHelp);
        return ExitOk;
    }
    const QStringList rest = args.mid(1);
    using Handler = int (Cli::*)(const QStringList &);
    const QList<QPair<QString, Handler>> commands = {
        {QStringLiteral("ports"), &Cli::ports},
        {QStringLiteral("read"), &Cli::read},
        {QStringLiteral("write"), &Cli::write},
        {QStringLiteral("settings"), &Cli::settings},
        {QStringLiteral("factory-reset"), &Cli::factoryReset},
        {QStringLiteral("image"), &Cli::image},
        {QStringLiteral("decode"), &Cli::decode},
        {QStringLiteral("play"), &Cli::play},
    };
    for (const auto &[name, handler] : commands) {
        if (name == command) {
            m_command = name;
            return (this->*handler)(rest);
        }
    }
    return usage(QStringLiteral("unknown command \"%1\"").arg(oneLine(command)));
}

}  // namespace

int run(const QStringList &arguments, QIODevice &out, QIODevice &err)
{
    Cli cli(out, err);
    return cli.run(arguments);
}

}  // namespace vl::cli
