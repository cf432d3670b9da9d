#include "cli/runreport.h"

#include "run/figures.h"
#include "run/isotime.h"

#include <QJsonArray>

namespace cli {

QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString modeName(PollMode mode)
{
    return mode == PollMode::NegativeAck ? QStringLiteral("negative-ack") : QStringLiteral("normal");
}

QString channelList(const std::array<bool, frames::ChannelCount>& on)
{
    QStringList out;
    for (int c = 1; c <= frames::ChannelCount; ++c) {
        if (!on[std::size_t(c - 1)])
            continue;
        int last = c;
        while (last < frames::ChannelCount && on[std::size_t(last)])
            ++last;
        out << (last > c ? QStringLiteral("%1-%2").arg(c).arg(last) : QString::number(c));
        c = last;
    }
    return out.isEmpty() ? QStringLiteral("none") : out.join(QLatin1Char(','));
}

QStringList conditionNames(const Conditions& c)
{
    QStringList out;
    for (int i = 0; i < ConditionCount; ++i)
        if (c.test(std::size_t(i)))
            out << conditionName(Condition(i));
    return out;
}

ConditionCounts conditionCounts(const Figures& s, qint64 powerUpsAtStart)
{
    ConditionCounts c{};
    const NoteCounts notes = s.totalNotes();
    c[std::size_t(Condition::Timeout)] = s.noResponses;
    c[std::size_t(Condition::BadSum)] = s.repliesBadChecksum;
    c[std::size_t(Condition::Rejected)] = notes.rejected;
    c[std::size_t(Condition::Returned)] = notes.returned;
    c[std::size_t(Condition::Cheated)] = s.events.cheated;
    c[std::size_t(Condition::Failure)] = s.events.failure;
    c[std::size_t(Condition::Jam)] = s.events.jam;
    c[std::size_t(Condition::Full)] = s.events.stackerFull;
    c[std::size_t(Condition::PowerUp)] = s.events.powerUp - powerUpsAtStart;
    c[std::size_t(Condition::Invalid)] = s.events.invalidCommand;
    return c;
}

Conditions occurred(const ConditionCounts& counts)
{
    Conditions c;
    for (int i = 0; i < ConditionCount; ++i)
        c.set(std::size_t(i), counts[std::size_t(i)] > 0);
    return c;
}

Progress progressOf(qint64 elapsedMs, const Figures& s)
{
    const NoteCounts notes = s.totalNotes();
    return {elapsedMs, s.pollsSent, notes.stacked, notes.returned, notes.rejected, s.noResponses,
            s.repliesBadChecksum};
}

QString progressLine(const Progress& p, int width)
{
    struct Field {
        const char* label;
        const char* shortLabel;
        qint64 value;
    };
    // In the order they are kept when room runs out.
    const std::array<Field, 6> fields{{
        {"polls", "polls", p.polls},
        {"stacked", "stk", p.stacked},
        {"returned", "ret", p.returned},
        {"rejected", "rej", p.rejected},
        {"time-outs", "t/o", p.timeouts},
        {"bad checksums", "bad", p.badSums},
    }};
    const QString clock = clockText(p.elapsedMs);
    auto compose = [&](std::size_t count, bool shortLabels, const QString& gap) {
        QString line = clock;
        for (std::size_t i = 0; i < count; ++i)
            line += gap + QLatin1String(shortLabels ? fields[i].shortLabel : fields[i].label) + QLatin1Char(' ')
                    + QString::number(fields[i].value);
        return line;
    };
    const QString twoBlanks = QStringLiteral("  ");
    const QString oneBlank = QStringLiteral(" ");
    QString line = compose(fields.size(), false, twoBlanks);
    if (width <= 0 || line.size() <= width)
        return line;
    line = compose(fields.size(), true, twoBlanks);
    if (line.size() <= width)
        return line;
    for (std::size_t count = fields.size() + 1; count-- > 0;) {
        line = compose(count, true, oneBlank);
        if (line.size() <= width)
            return line;
    }
    return line.left(width);  // narrower than the time itself
}

namespace {

// How the run was set up and how it ended, beside the figures.
QJsonObject runJson(const RunSetup& setup, const RunEnd& end, const Conditions& failOn, const ConditionCounts& counts)
{
    QJsonArray channels;
    for (int c = 1; c <= frames::ChannelCount; ++c)
        if (setup.channels[std::size_t(c - 1)])
            channels.append(c);
    QJsonObject run{
        {QStringLiteral("program"), VersionText},
        {QStringLiteral("device"), end.device},
        {QStringLiteral("port"), setup.port},
        {QStringLiteral("poll_rate_ms"), setup.pollPeriod},
        {QStringLiteral("mode"), modeName(setup.mode)},
        {QStringLiteral("escrow"), setup.escrow},
        {QStringLiteral("channels"), channels},
        {QStringLiteral("ended"), isoTime(end.ended)},
        {QStringLiteral("ended_by"), end.endedBy},
        {QStringLiteral("fail_on"), QJsonArray::fromStringList(conditionNames(failOn))},
        {QStringLiteral("failed_on"), QJsonArray::fromStringList(conditionNames(occurred(counts) & failOn))},
        {QStringLiteral("exit_status"), end.status},
    };
    if (end.portError)
        run.insert(QStringLiteral("port_error"), end.portError);
    if (!end.record.isEmpty())
        run.insert(QStringLiteral("record"), end.record);
    if (!end.recordError.isEmpty())
        run.insert(QStringLiteral("record_error"), end.recordError);
    if (!end.summaryError.isEmpty())
        run.insert(QStringLiteral("summary_error"), end.summaryError);
    return run;
}

}  // namespace

QJsonObject reportJson(const Figures& s, const RunSetup& setup, const RunEnd& end, const Conditions& failOn,
                       const ConditionCounts& counts)
{
    QJsonObject report = figuresJson(s);
    report.insert(QStringLiteral("run"), runJson(setup, end, failOn, counts));
    return report;
}

QString summaryText(const Figures& s, const RunSetup& setup, const RunEnd& end, const Conditions& failOn,
                    const ConditionCounts& counts)
{
    auto line = [](const char* label, const QString& value) {
        return QStringLiteral("%1 %2\n").arg(QLatin1String(label), -18).arg(value);
    };
    QStringList seen;
    for (int i = 0; i < ConditionCount; ++i)
        if (counts[std::size_t(i)] > 0)
            seen << QStringLiteral("%1 %2").arg(conditionName(Condition(i))).arg(counts[std::size_t(i)]);
    const Conditions met = occurred(counts) & failOn;

    QString text = QStringLiteral("%1, unattended run on %2\n").arg(VersionText, end.device);
    text += line("settings", QStringLiteral("poll rate %1 ms, %2, escrow %3, channels %4")
                                 .arg(setup.pollPeriod)
                                 .arg(modeName(setup.mode), setup.escrow ? QStringLiteral("on") : QStringLiteral("off"),
                                      channelList(setup.channels)));
    text += line("started", isoTime(s.startedAt.toLocalTime()));
    text += line("ended", QStringLiteral("%1 (%2)").arg(isoTime(end.ended), end.endedBy));
    text += figuresText(s);
    text += line("conditions", seen.isEmpty() ? QStringLiteral("none") : seen.join(QStringLiteral(", ")));
    if (failOn.any())
        text += line("failed on", met.any() ? conditionNames(met).join(QStringLiteral(", ")) : QStringLiteral("nothing"));
    if (!end.recordError.isEmpty())
        text += line("record error", end.recordError);
    if (!end.summaryError.isEmpty())
        text += line("summary error", end.summaryError);
    text += line("exit status", QString::number(end.status));
    return text;
}

}  // namespace cli
