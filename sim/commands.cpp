#include "sim/commands.h"

#include <QStringList>

namespace sim {

namespace {

enum class Arg { None, Required, Optional };

struct Spec {
    const char* name;
    Arg arg;
    int min;
    int max;
    const char* usage;
    const char* help;
};

constexpr Spec Specs[] = {
    {"insert", Arg::Required, 0, MaxChannel, "insert N", "a note on channel N (0 names none, 14..157 use status 3)"},
    {"channel", Arg::Required, 0, MaxChannel, "channel N", "same as insert N"},
    {"channel0", Arg::None, 0, 0, "channel0", "a note that names no channel"},
    {"jam", Arg::None, 0, 0, "jam", "jammed until clear; nothing moves"},
    {"full", Arg::None, 0, 0, "full", "stacker full until clear; notes are rejected"},
    {"calibrate", Arg::None, 0, 0, "calibrate", "calibration until clear; notes are rejected"},
    {"cheat", Arg::None, 0, 0, "cheat", "cheated event; the note in progress is lost"},
    {"failure", Arg::None, 0, 0, "failure", "failure event"},
    {"invalid", Arg::None, 0, 0, "invalid", "invalid command event"},
    {"clear", Arg::None, 0, 0, "clear", "end jam, stacker full, calibration, queued line faults"},
    {"reset", Arg::None, 0, 0, "reset", "power cycle: note lost, power-up event"},
    {"badsum", Arg::None, 0, 0, "badsum", "next reply with a wrong checksum"},
    {"garbage", Arg::None, 0, 0, "garbage", "next reply replaced by 25 bytes of noise (not STX)"},
    {"silence", Arg::Required, 1, 100000, "silence N", "ignore the next N host messages"},
    {"split", Arg::Optional, 0, 10000, "split [MS]", "next reply in two writes, MS ms apart (20)"},
    {"double", Arg::None, 0, 0, "double", "next reply sent twice in one write"},
    {"auto", Arg::None, 0, 0, "auto", "automatic notes on or off"},
    {"stats", Arg::None, 0, 0, "stats", "print the counts"},
    {"status", Arg::None, 0, 0, "status", "print the device's stage and conditions"},
    {"help", Arg::None, 0, 0, "help", "this list"},
    {"quit", Arg::None, 0, 0, "quit", "end the run (so do end of input, SIGINT, SIGTERM)"},
};

const Spec* findSpec(const QString& name)
{
    for (const Spec& s : Specs)
        if (name == QLatin1StringView(s.name))
            return &s;
    return nullptr;
}

}  // namespace

std::optional<Command> parseCommand(const QString& line, QString* error)
{
    auto fail = [error](const QString& why) -> std::optional<Command> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QString text = line.trimmed();
    if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
        return Command{};
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString name = words[0].toLower();
    const Spec* spec = findSpec(name);
    if (!spec)
        return fail(QStringLiteral("unknown command \"%1\" (try help)").arg(words[0]));
    if (words.size() > 2 || (words.size() == 2 && spec->arg == Arg::None))
        return fail(QStringLiteral("usage: %1").arg(QLatin1StringView(spec->usage)));
    Command c{name, -1};
    if (words.size() == 2) {
        bool ok = false;
        const int n = words[1].toInt(&ok);
        if (!ok || n < spec->min || n > spec->max)
            return fail(QStringLiteral("usage: %1, N from %2 to %3")
                            .arg(QLatin1StringView(spec->usage))
                            .arg(spec->min)
                            .arg(spec->max));
        c.arg = n;
    } else if (spec->arg == Arg::Required) {
        return fail(QStringLiteral("usage: %1").arg(QLatin1StringView(spec->usage)));
    }
    return c;
}

QString commandHelp()
{
    QString text;
    for (const Spec& s : Specs)
        text += QStringLiteral("  %1 %2\n").arg(QLatin1StringView(s.usage), -12).arg(QLatin1StringView(s.help));
    return text;
}

std::optional<QString> applyCommand(VirtualValidator& d, const Command& c)
{
    const QString& n = c.name;
    auto is = [&n](const char* word) { return n == QLatin1StringView(word); };
    if (is("insert") || is("channel") || is("channel0")) {
        const int channel = is("channel0") ? 0 : c.arg;
        QString why;
        if (!d.insert(channel, &why))
            return QStringLiteral("refused %1: %2").arg(channel).arg(why);
        return QString();  // the device tells of the note itself
    }
    if (is("jam"))
        d.jam();
    else if (is("full"))
        d.setStackerFull();
    else if (is("calibrate"))
        d.calibrate();
    else if (is("cheat"))
        d.cheat();
    else if (is("failure"))
        d.fail();
    else if (is("invalid"))
        d.invalidCommand();
    else if (is("clear"))
        d.clear();
    else if (is("reset"))
        d.powerUp();
    else if (is("badsum"))
        d.badChecksum();
    else if (is("garbage"))
        d.garbage();
    else if (is("silence"))
        d.silence(c.arg);
    else if (is("split"))
        d.split(c.arg);
    else if (is("double"))
        d.doubleReply();
    else if (is("status")) {
        QString s = QStringLiteral("stage %1").arg(QLatin1StringView(stageName(d.stage())));
        if (d.stage() != Stage::Idle)
            s += QStringLiteral(" channel %1").arg(d.noteChannel());
        if (d.jammed())
            s += QStringLiteral(" jammed");
        const auto& r = d.lastReply().bytes;
        s += QStringLiteral(" reply");
        for (std::uint8_t b : r)
            s += QLatin1Char(' ') + frames::ToHex(b);
        return s;
    } else
        return std::nullopt;
    return QStringLiteral("ok %1").arg(n);
}

bool insertAutoNote(VirtualValidator& device, std::mt19937& random)
{
    if (device.stage() != Stage::Idle || device.jammed() || !device.heardAny())
        return false;
    std::vector<int> enabled;
    for (int channel = 1; channel <= frames::ChannelCount; ++channel)
        if (device.channelEnabled(channel))
            enabled.push_back(channel);
    if (enabled.empty())
        return false;
    return device.insert(enabled[random() % enabled.size()]);
}

QString countsLine(const VirtualValidator::Counts& c)
{
    QStringList per;
    for (const auto& [channel, count] : c.stacked)
        per << QStringLiteral("%1:%2").arg(channel).arg(count);
    return QStringLiteral("stacked %1 [%2] returned %3 rejected %4 polls %5 repeats %6 deaf %7 faults %8 "
                          "stacked-badsum %9")
        .arg(c.stackedTotal())
        .arg(per.join(QLatin1Char(' ')))
        .arg(c.returned)
        .arg(c.rejected)
        .arg(c.polls)
        .arg(c.repeats)
        .arg(c.deaf)
        .arg(c.lineFaults)
        .arg(c.stackedBadChecksum);
}

std::optional<std::vector<ScriptStep>> parseScript(const QString& text, QString* error)
{
    std::vector<ScriptStep> steps;
    qint64 previous = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        auto fail = [&](const QString& why) -> std::optional<std::vector<ScriptStep>> {
            if (error)
                *error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return std::nullopt;
        };
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        QString time = space < 0 ? line : line.left(space);
        const bool relative = time.startsWith(QLatin1Char('+'));
        if (relative)
            time.remove(0, 1);
        bool ok = false;
        const qint64 ms = time.toLongLong(&ok);
        if (!ok || ms < 0)
            return fail(QStringLiteral("expected milliseconds, \"+milliseconds\", then a command"));
        // Both within a day, so the sum cannot overflow and every wait fits a timer.
        const qint64 at = relative && ms <= MaxScriptMs ? previous + ms : ms;
        if (at > MaxScriptMs)
            return fail(QStringLiteral("a time more than 24 hours (%1 ms) after the start").arg(MaxScriptMs));
        QString why;
        const auto command = parseCommand(space < 0 ? QString() : line.mid(space + 1), &why);
        if (!command)
            return fail(why);
        if (command->name.isEmpty())
            return fail(QStringLiteral("a time without a command"));
        steps.push_back({at, *command, i + 1});
        previous = at;
    }
    return steps;
}

}  // namespace sim
