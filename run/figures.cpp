#include "run/figures.h"

#include "run/isotime.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

void ReplyTimes::add(std::int64_t ns)
{
    ns = std::max<std::int64_t>(ns, 0);
    const std::int64_t bin = ns / BinNs;
    if (bin < Bins)
        ++bins_[std::int32_t(bin)];
    else
        ++overflow_;
    ++count_;
    maxNs_ = std::max(maxNs_, ns);
}

void ReplyTimes::clear()
{
    bins_.clear();
    count_ = 0;
    overflow_ = 0;
    maxNs_ = 0;
}

double ReplyTimes::quantileMs(double q) const
{
    if (count_ == 0)
        return 0;
    // The sample of rank ceil(q * n), 1-based, read as the middle of its bin.
    const auto rank = std::max<std::int64_t>(1, std::int64_t(std::ceil(q * double(count_))));
    std::int64_t seen = 0;
    for (const auto& [bin, n] : bins_) {
        seen += n;
        if (seen >= rank)
            return std::min((double(bin) + 0.5) * double(BinNs), double(maxNs_)) / 1e6;
    }
    return maxMs();
}

NoteCounts Figures::totalNotes() const
{
    NoteCounts t;
    for (const auto& [channel, n] : notes) {
        t.escrowed += n.escrowed;
        t.stacked += n.stacked;
        t.returned += n.returned;
        t.rejected += n.rejected;
    }
    return t;
}

double Figures::acceptanceRate() const
{
    const NoteCounts t = totalNotes();
    const std::int64_t all = t.stacked + t.rejected + t.returned;
    return all ? double(t.stacked) / double(all) : -1.0;
}

namespace {

QJsonObject noteJson(const NoteCounts& n)
{
    return {{QStringLiteral("escrowed"), qint64(n.escrowed)},
            {QStringLiteral("stacked"), qint64(n.stacked)},
            {QStringLiteral("returned"), qint64(n.returned)},
            {QStringLiteral("rejected"), qint64(n.rejected)}};
}

double rounded(double v, int decimals)
{
    const double f = std::pow(10.0, decimals);
    return std::round(v * f) / f;
}

}  // namespace

QJsonObject figuresJson(const Figures& f)
{
    QJsonArray channels;
    for (const auto& [channel, n] : f.notes) {
        QJsonObject o = noteJson(n);
        o.insert(QStringLiteral("channel"), channel);
        channels.append(o);
    }
    QJsonObject notesJson = noteJson(f.totalNotes());
    const double rate = f.acceptanceRate();
    notesJson.insert(QStringLiteral("acceptance_rate"), rate < 0 ? QJsonValue() : QJsonValue(rounded(rate, 4)));
    notesJson.insert(QStringLiteral("per_channel"), channels);

    return {
        {QStringLiteral("started"), isoTime(f.startedAt.toLocalTime())},
        {QStringLiteral("seconds"), rounded(f.elapsedSeconds, 3)},
        {QStringLiteral("polls"), QJsonObject{{QStringLiteral("sent"), qint64(f.pollsSent)},
                                              {QStringLiteral("repeats"), qint64(f.repeats)}}},
        {QStringLiteral("replies"),
         QJsonObject{{QStringLiteral("good"), qint64(f.repliesGood)},
                     {QStringLiteral("bad_checksum"), qint64(f.repliesBadChecksum)},
                     {QStringLiteral("malformed"), qint64(f.repliesMalformed)},
                     {QStringLiteral("no_response"), qint64(f.noResponses)},
                     {QStringLiteral("longest_without_good"), qint64(f.longestWithoutGoodReply)}}},
        {QStringLiteral("resynchronisations"),
         QJsonObject{{QStringLiteral("count"), qint64(f.resynchronisations)},
                     {QStringLiteral("bytes_discarded"), qint64(f.bytesDiscarded)}}},
        {QStringLiteral("port_failures"), qint64(f.portFailures)},
        {QStringLiteral("reply_time_ms"),
         QJsonObject{{QStringLiteral("count"), qint64(f.replyTimes.count())},
                     {QStringLiteral("median"), rounded(f.replyTimes.quantileMs(0.5), 3)},
                     {QStringLiteral("p99"), rounded(f.replyTimes.quantileMs(0.99), 3)},
                     {QStringLiteral("max"), rounded(f.replyTimes.maxMs(), 3)}}},
        {QStringLiteral("notes"), notesJson},
        {QStringLiteral("events"),
         QJsonObject{{QStringLiteral("cheated"), qint64(f.events.cheated)},
                     {QStringLiteral("failure"), qint64(f.events.failure)},
                     {QStringLiteral("power_up"), qint64(f.events.powerUp)},
                     {QStringLiteral("invalid_command"), qint64(f.events.invalidCommand)},
                     {QStringLiteral("jam"), qint64(f.events.jam)},
                     {QStringLiteral("stacker_full"), qint64(f.events.stackerFull)}}},
    };
}

QString figuresText(const Figures& f)
{
    const NoteCounts t = f.totalNotes();
    const double rate = f.acceptanceRate();
    QString s;
    s += QStringLiteral("elapsed            %1 s\n").arg(f.elapsedSeconds, 0, 'f', 1);
    s += QStringLiteral("polls sent         %1 (%2 repeats)\n").arg(f.pollsSent).arg(f.repeats);
    s += QStringLiteral("replies            %1 good, %2 bad checksum, %3 malformed, %4 no response\n")
             .arg(f.repliesGood)
             .arg(f.repliesBadChecksum)
             .arg(f.repliesMalformed)
             .arg(f.noResponses);
    s += QStringLiteral("longest miss run   %1 polls\n").arg(f.longestWithoutGoodReply);
    s += QStringLiteral("resynchronisations %1 (%2 bytes discarded)\n").arg(f.resynchronisations).arg(f.bytesDiscarded);
    s += QStringLiteral("port failures      %1\n").arg(f.portFailures);
    s += QStringLiteral("reply time         median %1 ms, p99 %2 ms, max %3 ms\n")
             .arg(f.replyTimes.quantileMs(0.5), 0, 'f', 3)
             .arg(f.replyTimes.quantileMs(0.99), 0, 'f', 3)
             .arg(f.replyTimes.maxMs(), 0, 'f', 3);
    s += QStringLiteral("notes              %1 escrowed, %2 stacked, %3 returned, %4 rejected, acceptance %5\n")
             .arg(t.escrowed)
             .arg(t.stacked)
             .arg(t.returned)
             .arg(t.rejected)
             .arg(rate < 0 ? QStringLiteral("-") : QStringLiteral("%1 %").arg(rate * 100, 0, 'f', 1));
    for (const auto& [channel, n] : f.notes)
        s += QStringLiteral("  channel %1: %2 escrowed, %3 stacked, %4 returned, %5 rejected\n")
                 .arg(channel, 3)
                 .arg(n.escrowed)
                 .arg(n.stacked)
                 .arg(n.returned)
                 .arg(n.rejected);
    s += QStringLiteral("events             %1 cheated, %2 failure, %3 power up, %4 invalid command, %5 jam, "
                        "%6 stacker full\n")
             .arg(f.events.cheated)
             .arg(f.events.failure)
             .arg(f.events.powerUp)
             .arg(f.events.invalidCommand)
             .arg(f.events.jam)
             .arg(f.events.stackerFull);
    return s;
}

QString statisticsWindowText(const Figures& f)
{
    return f.counting ? figuresText(f).trimmed() : QStringLiteral("Polling has not started.");
}
