#include "cli/options.h"

#include "cli/portchoice.h"
#include "settings/decimal.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>

namespace cli {

namespace {

constexpr std::array<const char*, ConditionCount> ConditionNames{
    "timeout", "badsum", "rejected", "returned", "cheated", "failure", "jam", "full", "powerup", "invalid",
};

// Longest period the poll timer takes, shortest it is given: the window's rules.

// Qt's own window-system options, as QGuiApplication and QApplication read
// them (one or two leading dashes): those that take a value, then switches.
const QStringList WindowSystemValueOptions{
    QStringLiteral("platform"),      QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
    QStringLiteral("plugin"),        QStringLiteral("qwindowgeometry"),    QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),  QStringLiteral("session"),            QStringLiteral("display"),
    QStringLiteral("geometry"),      QStringLiteral("style"),              QStringLiteral("stylesheet"),
};
const QStringList WindowSystemSwitches{
    QStringLiteral("reverse"), QStringLiteral("widgetcount"), QStringLiteral("nograb"),
    QStringLiteral("dograb"),  QStringLiteral("sync"),
};

// "-x", "--xyz": not "-0+0", a geometry.
bool looksLikeOption(const QString& a)
{
    const qsizetype at = a.startsWith(QLatin1String("--")) ? 2 : 1;
    return a.startsWith(QLatin1Char('-')) && a.size() > at && a[at].isLetter();
}

// Qt's own options as the window's application takes them: with a value
// that follows, or as a switch. One whose value is missing, or looks like one
// of ours, is refused (why set): the window would take our option for its
// value, and an unattended run would lose it.
QStringList withoutWindowSystemOptions(const QStringList& arguments, QString* why)
{
    QStringList out;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--")) {
            out << arguments.mid(i);
            break;
        }
        if (i == 0 || !a.startsWith(QLatin1Char('-'))) {
            out << a;
            continue;
        }
        QString name = a.mid(a.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        const bool inlineValue = eq >= 0;
        if (inlineValue)
            name.truncate(eq);
        if (WindowSystemValueOptions.contains(name)) {
            if (!inlineValue) {
                if (i + 1 >= arguments.size() || looksLikeOption(arguments[i + 1])) {
                    *why = QStringLiteral("Missing value after '%1'.").arg(a);
                    return {};
                }
                ++i;
            }
            continue;
        }
        if (WindowSystemSwitches.contains(name) && !inlineValue)
            continue;
        out << a;
    }
    return out;
}

struct Declared {
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Print \"%1\" and exit.").arg(VersionText)};
    QCommandLineOption listPorts{
        QStringLiteral("list-ports"),
        QStringLiteral("List the serial ports of this machine, one a line (device, description, manufacturer, "
                       "serial number, USB vendor and product id), and exit.")};
    QCommandLineOption device{QStringLiteral("device"),
                              QStringLiteral("Use the serial device <path> (e.g. /dev/ttyUSB0, COM7) for this run "
                                             "instead of the port number's device. The stored port number is kept. "
                                             "sim is a virtual validator inside the program (a note every couple of "
                                             "seconds); sim:<script> plays a pollbench-sim script on it instead."),
                              QStringLiteral("path")};
    QCommandLineOption startPoll{QStringLiteral("start-poll"),
                                 QStringLiteral("Press START POLL once the window is shown (for demonstrations).")};
    QCommandLineOption record{QStringLiteral("record"),
                              QStringLiteral("Record every event of the line to the CSV file <file> (appended to "
                                             "when it exists)."),
                              QStringLiteral("file")};
    QCommandLineOption headless{
        QStringLiteral("headless"),
        QStringLiteral("Poll without a window or a display, with the port, poll rate and channels of SETUP.INI "
                       "(port 1, 100 ms, channels 1-7 without one), escrow on, Normal Poll; SETUP.INI is never "
                       "written. The options below change that for this run.")};
    QCommandLineOption port{QStringLiteral("port"), QStringLiteral("Poll port number <n>."), QStringLiteral("n")};
    QCommandLineOption rate{QStringLiteral("rate"),
                            QStringLiteral("Poll every <ms> milliseconds (below 30 polls every 30; at most 65535)."),
                            QStringLiteral("ms")};
    QCommandLineOption mode{QStringLiteral("mode"),
                            QStringLiteral("Poll mode: normal (Normal Poll) or negative-ack (Negative ACK)."),
                            QStringLiteral("normal|negative-ack")};
    QCommandLineOption channels{QStringLiteral("channels"),
                                QStringLiteral("Enabled channels, e.g. 1-7,9 (1 to 13), or none."),
                                QStringLiteral("list")};
    QCommandLineOption escrow{QStringLiteral("escrow"),
                              QStringLiteral("Escrow on (notes on enabled channels stacked, others returned) or off."),
                              QStringLiteral("on|off")};
    QCommandLineOption duration{QStringLiteral("duration"),
                                QStringLiteral("Stop after <time>: seconds, or a number with s, m or h (90, 15m, 8h)."),
                                QStringLiteral("time")};
    QCommandLineOption notes{QStringLiteral("notes"), QStringLiteral("Stop once <n> notes have been stacked."),
                             QStringLiteral("n")};
    QCommandLineOption report{QStringLiteral("report"),
                              QStringLiteral("Write the run's statistics to <file> as JSON; without it a summary "
                                             "goes to standard output."),
                              QStringLiteral("file")};
    QCommandLineOption failOn{
        QStringLiteral("fail-on"),
        QStringLiteral("Exit with status 1 when any of these occurred: timeout, badsum, rejected, returned, "
                       "cheated, failure, jam, full, powerup, invalid (comma-separated)."),
        QStringLiteral("list")};

    void addTo(QCommandLineParser& p) const
    {
        p.addOptions({help, version, listPorts, device, startPoll, record, headless, port, rate, mode, channels, escrow,
                      duration, notes, report, failOn});
    }
};

const QString Description = QStringLiteral(
    "A bench tester for banknote validators on a serial line. Without options the tester window opens.\n"
    "\n"
    "Runs end on --duration, --notes, SIGINT, SIGTERM, SIGHUP or SIGQUIT, whichever comes first.\n"
    "Exit status: 0 the run completed; 1 a --fail-on condition occurred; 2 bad usage;\n"
    "3 the port could not be set up or failed; 4 the report, the record or its summary\n"
    "could not be written.");

QString allConditionNames()
{
    QStringList all;
    for (const char* n : ConditionNames)
        all << QString::fromLatin1(n);
    return all.join(QStringLiteral(", "));
}

std::optional<bool> onOff(const QString& text)
{
    if (text == QLatin1String("on"))
        return true;
    if (text == QLatin1String("off"))
        return false;
    return std::nullopt;
}

}  // namespace

QString conditionName(Condition c)
{
    return QString::fromLatin1(ConditionNames[std::size_t(c)]);
}

QString helpText()
{
    QCommandLineParser p;
    p.setApplicationDescription(Description);
    Declared d;
    d.addTo(p);
    QString text = p.helpText();
    // Qt puts the path the program was started by in the first line.
    const qsizetype nl = text.indexOf(QLatin1Char('\n'));
    text.replace(0, nl, QStringLiteral("Usage: pollbench [options]"));
    return text;
}

std::optional<qint64> parseDuration(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d+(?:\\.\\d+)?)([smh]?)$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QString unit = m.captured(2);
    const double scale = unit == QLatin1String("h") ? 3600e3 : unit == QLatin1String("m") ? 60e3 : 1e3;
    const double ms = std::round(m.captured(1).toDouble() * scale);
    // A year is plenty; beyond that the figure is a typing slip.
    if (!(ms >= 1 && ms <= 366.0 * 24 * 3600e3))
        return std::nullopt;
    return qint64(ms);
}

std::optional<std::array<bool, frames::ChannelCount>> parseChannels(const QString& text, QString* why)
{
    std::array<bool, frames::ChannelCount> on{};
    auto fail = [why](const QString& reason) -> std::optional<std::array<bool, frames::ChannelCount>> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    const QString t = text.trimmed();
    if (t == QLatin1String("none"))
        return on;
    if (t.isEmpty())
        return fail(QStringLiteral("no channels given (write none for none)"));
    for (const QString& raw : t.split(QLatin1Char(','))) {
        const QString item = raw.trimmed();
        const QStringList ends = item.split(QLatin1Char('-'));
        if (ends.size() > 2 || item.isEmpty())
            return fail(QStringLiteral("\"%1\" is no channel or range").arg(item));
        bool ok1 = false;
        bool ok2 = false;
        const int from = ends[0].trimmed().toInt(&ok1);
        const int to = ends.size() == 2 ? ends[1].trimmed().toInt(&ok2) : (ok2 = true, from);
        if (!ok1 || !ok2)
            return fail(QStringLiteral("\"%1\" is no channel or range").arg(item));
        if (from < 1 || to > frames::ChannelCount || from > to)
            return fail(QStringLiteral("\"%1\": channels are 1 to %2").arg(item).arg(frames::ChannelCount));
        for (int c = from; c <= to; ++c)
            on[std::size_t(c - 1)] = true;
    }
    return on;
}

Options parseCommandLine(const QStringList& arguments)
{
    Options o;
    auto bad = [&o](const QString& why) {
        o.kind = RunKind::BadUsage;
        o.error = why;
        return o;
    };

    QString why;
    const QStringList ours = withoutWindowSystemOptions(arguments, &why);
    if (!why.isEmpty())
        return bad(why);
    QCommandLineParser p;
    p.setApplicationDescription(Description);
    Declared d;
    d.addTo(p);
    if (!p.parse(ours))
        return bad(p.errorText());
    if (!p.positionalArguments().isEmpty())
        return bad(QStringLiteral("Unexpected argument '%1'.").arg(p.positionalArguments().first()));

    if (p.isSet(d.help)) {
        o.kind = RunKind::Help;
        return o;
    }
    if (p.isSet(d.version)) {
        o.kind = RunKind::Version;
        return o;
    }
    if (p.isSet(d.listPorts)) {
        o.kind = RunKind::ListPorts;
        return o;
    }

    // A second value of an option that takes one would silently replace the
    // first; the lists (--channels, --fail-on) add up instead.
    for (const QCommandLineOption* single : {&d.device, &d.record, &d.port, &d.rate, &d.mode, &d.escrow, &d.duration,
                                             &d.notes, &d.report}) {
        const QStringList given = p.values(*single);
        if (given.size() > 1)
            return bad(QStringLiteral("--%1 is given %2 times (%3); give it once.")
                           .arg(single->names().first())
                           .arg(given.size())
                           .arg(given.join(QStringLiteral(", "))));
    }

    if (p.isSet(d.device)) {
        o.device = p.value(d.device);
        if (o.device.isEmpty())
            return bad(QStringLiteral("--device needs a device path."));
        if (o.device == BuiltInDevice + QLatin1Char(':'))
            return bad(QStringLiteral("--device sim: needs a script file after the colon."));
    }
    if (p.isSet(d.record)) {
        o.record = p.value(d.record);
        if (o.record.isEmpty())
            return bad(QStringLiteral("--record needs a file name."));
    }

    const bool headless = p.isSet(d.headless);
    o.startPoll = p.isSet(d.startPoll);
    if (o.startPoll && headless)
        return bad(QStringLiteral("--start-poll is for the window: an unattended run polls from the start."));
    for (const QCommandLineOption* only : {&d.port, &d.rate, &d.mode, &d.channels, &d.escrow, &d.duration, &d.notes,
                                           &d.report, &d.failOn}) {
        if (p.isSet(*only) && !headless)
            return bad(QStringLiteral("--%1 is for unattended runs: give --headless too.").arg(only->names().first()));
    }
    if (!headless)
        return o;
    o.kind = RunKind::Headless;

    if (p.isSet(d.port)) {
        o.port = portNumberFrom(p.value(d.port));
        if (!o.port)
            return bad(QStringLiteral("--port: \"%1\" is no port number.").arg(p.value(d.port)));
    }
    if (p.isSet(d.rate)) {
        o.pollPeriod = pollPeriodFrom(p.value(d.rate));
        if (!o.pollPeriod)
            return bad(QStringLiteral("--rate: \"%1\" is no poll rate (milliseconds, at most 65535).")
                           .arg(p.value(d.rate)));
    }
    if (p.isSet(d.mode)) {
        const QString m = p.value(d.mode);
        if (m == QLatin1String("normal"))
            o.mode = PollMode::Normal;
        else if (m == QLatin1String("negative-ack"))
            o.mode = PollMode::NegativeAck;
        else
            return bad(QStringLiteral("--mode: \"%1\" is neither normal nor negative-ack.").arg(m));
    }
    if (p.isSet(d.channels)) {
        std::array<bool, frames::ChannelCount> on{};
        for (const QString& list : p.values(d.channels)) {
            const auto some = parseChannels(list, &why);
            if (!some)
                return bad(QStringLiteral("--channels: %1.").arg(why));
            for (std::size_t c = 0; c < on.size(); ++c)
                on[c] = on[c] || (*some)[c];
        }
        o.channels = on;
    }
    if (p.isSet(d.escrow)) {
        const auto on = onOff(p.value(d.escrow));
        if (!on)
            return bad(QStringLiteral("--escrow: \"%1\" is neither on nor off.").arg(p.value(d.escrow)));
        o.escrow = *on;
    }
    if (p.isSet(d.duration)) {
        o.durationMs = parseDuration(p.value(d.duration));
        if (!o.durationMs)
            return bad(QStringLiteral("--duration: \"%1\" is no duration (seconds, or a number with s, m or h).")
                           .arg(p.value(d.duration)));
    }
    if (p.isSet(d.notes)) {
        bool ok = false;
        const qint64 n = p.value(d.notes).toLongLong(&ok);
        if (!ok || n < 1)
            return bad(QStringLiteral("--notes: \"%1\" is no number of notes (1 or more).").arg(p.value(d.notes)));
        o.notes = n;
    }
    if (p.isSet(d.report)) {
        o.report = p.value(d.report);
        if (o.report.isEmpty())
            return bad(QStringLiteral("--report needs a file name."));
    }
    for (const QString& list : p.values(d.failOn)) {
        for (const QString& raw : list.split(QLatin1Char(','))) {
            const QString name = raw.trimmed();
            bool known = false;
            for (int c = 0; c < ConditionCount; ++c) {
                if (name == QLatin1String(ConditionNames[std::size_t(c)])) {
                    o.failOn.set(std::size_t(c));
                    known = true;
                }
            }
            if (!known)
                return bad(QStringLiteral("--fail-on: \"%1\" is none of %2.").arg(name, allConditionNames()));
        }
    }
    return o;
}

}  // namespace cli
