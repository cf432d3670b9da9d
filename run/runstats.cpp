#include "run/runstats.h"

#include "link/pollsession.h"

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

RunStatistics::RunStatistics(PollSession& session, QObject* parent) : QObject(parent), session_(session)
{
    connect(&session, &PollSession::started, this, [this] {
        if (!counting_)
            reset();
    });
    connect(&session, &PollSession::messageBuilt, this, [this] { freshMessage_ = true; });
    connect(&session, &PollSession::messageSent, this,
            [this](const frames::HostMessage& m, bool repeated) { sent(repeated, m.isEmpty()); });
    connect(&session, &PollSession::noResponse, this, [this] {
        if (counting_)
            ++noResponses;
    });
    connect(&session, &PollSession::replyChecked, this, &RunStatistics::replied);
    connect(&session, &PollSession::bytesDiscarded, this, [this](const QByteArray& bytes) {
        if (!counting_)
            return;
        ++resynchronisations;
        bytesDiscarded += bytes.size();
        emit changed();
    });
    connect(&session, &PollSession::portFailed, this, [this] {
        if (!counting_)
            return;
        ++portFailures;
        emit changed();
    });
    connect(&session, &PollSession::sessionReset, this, &RunStatistics::forget);
}

void RunStatistics::clearCounts()
{
    pollsSent = repeats = repliesGood = repliesBadChecksum = repliesMalformed = noResponses = 0;
    resynchronisations = bytesDiscarded = portFailures = 0;
    pollsWithoutGoodReply = longestWithoutGoodReply = 0;
    replyTimes.clear();
    notes.clear();
    events = Events{};
    timing_ = false;
}

void RunStatistics::reset()
{
    clearCounts();
    counting_ = true;
    // Kept in UTC: reading the local zone costs a file lookup, paid only when shown.
    startedAt_ = QDateTime::currentDateTimeUtc();
    startedNs_ = session_.clockNs();
    emit changed();
}

void RunStatistics::forget()
{
    clearCounts();
    counting_ = false;
    startedAt_ = QDateTime();
    startedNs_ = 0;
    freshMessage_ = false;
    lastStatus0_ = lastStatus1_ = 0;
    emit changed();
}

double RunStatistics::elapsedSeconds() const
{
    return counting_ ? double(session_.clockNs() - startedNs_) / 1e9 : 0.0;
}

void RunStatistics::sent(bool repeated, bool empty)
{
    if (!counting_ || empty)
        return;
    ++pollsSent;
    if (repeated)
        ++repeats;
    // A run without a good reply grows with every send that follows a miss.
    if (!session_.replyReceived() && pollsSent > 1) {
        ++pollsWithoutGoodReply;
        longestWithoutGoodReply = std::max(longestWithoutGoodReply, pollsWithoutGoodReply);
    }
    timing_ = true;
    emit changed();
}

void RunStatistics::replied(const frames::ValidatorReply& reply, bool good, const frames::StatusDecoding& d)
{
    if (!counting_)
        return;
    if (timing_) {
        timing_ = false;
        replyTimes.add(session_.lastReadNs() - session_.lastWriteNs());
    }
    // Only a frame the validator vouches for whole is counted: noise that
    // begins with STX passes the checksum alone one time in 128.
    if (!good || !reply.isWholeFrame()) {
        ++(good ? repliesMalformed : repliesBadChecksum);
        emit changed();
        return;
    }
    ++repliesGood;
    pollsWithoutGoodReply = 0;

    const std::uint8_t s0 = reply.status(0), s1 = reply.status(1), s2 = reply.status(2);
    // A state is counted as it begins.
    if ((s0 & frames::EscrowedBit) && !(lastStatus0_ & frames::EscrowedBit))
        ++notes[d.channelNumber].escrowed;
    if ((s1 & 0x04) && !(lastStatus1_ & 0x04))
        ++events.jam;
    if ((s1 & 0x08) && !(lastStatus1_ & 0x08))
        ++events.stackerFull;
    lastStatus0_ = s0;
    lastStatus1_ = s1;

    // The validator repeats its events until a new message acknowledges
    // them: they are counted once, from the first good reply to each new
    // message. The outcome of a note is read as the window reads it.
    if (freshMessage_) {
        freshMessage_ = false;
        if (d.eventCode == QLatin1StringView("STD"))
            ++notes[d.channelNumber].stacked;
        else if (d.eventCode == QLatin1StringView("RTD"))
            ++notes[d.channelNumber].returned;
        else if (d.eventCode == QLatin1StringView("REJ"))
            ++notes[d.channelNumber].rejected;
        if (s1 & 0x01)
            ++events.cheated;
        if (s2 & 0x04)
            ++events.failure;
        if (s2 & 0x01)
            ++events.powerUp;
        if (s2 & 0x02)
            ++events.invalidCommand;
    }
    emit changed();
}

NoteCounts RunStatistics::totalNotes() const
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

double RunStatistics::acceptanceRate() const
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

QJsonObject RunStatistics::toJson() const
{
    QJsonArray channels;
    for (const auto& [channel, n] : notes) {
        QJsonObject o = noteJson(n);
        o.insert(QStringLiteral("channel"), channel);
        channels.append(o);
    }
    QJsonObject notesJson = noteJson(totalNotes());
    const double rate = acceptanceRate();
    notesJson.insert(QStringLiteral("acceptance_rate"), rate < 0 ? QJsonValue() : QJsonValue(rounded(rate, 4)));
    notesJson.insert(QStringLiteral("per_channel"), channels);

    return {
        {QStringLiteral("started"), startedAt().toString(Qt::ISODateWithMs)},
        {QStringLiteral("seconds"), rounded(elapsedSeconds(), 3)},
        {QStringLiteral("polls"), QJsonObject{{QStringLiteral("sent"), qint64(pollsSent)},
                                              {QStringLiteral("repeats"), qint64(repeats)}}},
        {QStringLiteral("replies"),
         QJsonObject{{QStringLiteral("good"), qint64(repliesGood)},
                     {QStringLiteral("bad_checksum"), qint64(repliesBadChecksum)},
                     {QStringLiteral("malformed"), qint64(repliesMalformed)},
                     {QStringLiteral("no_response"), qint64(noResponses)},
                     {QStringLiteral("longest_without_good"), qint64(longestWithoutGoodReply)}}},
        {QStringLiteral("resynchronisations"),
         QJsonObject{{QStringLiteral("count"), qint64(resynchronisations)},
                     {QStringLiteral("bytes_discarded"), qint64(bytesDiscarded)}}},
        {QStringLiteral("port_failures"), qint64(portFailures)},
        {QStringLiteral("reply_time_ms"),
         QJsonObject{{QStringLiteral("count"), qint64(replyTimes.count())},
                     {QStringLiteral("median"), rounded(replyTimes.quantileMs(0.5), 3)},
                     {QStringLiteral("p99"), rounded(replyTimes.quantileMs(0.99), 3)},
                     {QStringLiteral("max"), rounded(replyTimes.maxMs(), 3)}}},
        {QStringLiteral("notes"), notesJson},
        {QStringLiteral("events"),
         QJsonObject{{QStringLiteral("cheated"), qint64(events.cheated)},
                     {QStringLiteral("failure"), qint64(events.failure)},
                     {QStringLiteral("power_up"), qint64(events.powerUp)},
                     {QStringLiteral("invalid_command"), qint64(events.invalidCommand)},
                     {QStringLiteral("jam"), qint64(events.jam)},
                     {QStringLiteral("stacker_full"), qint64(events.stackerFull)}}},
    };
}

QString RunStatistics::toText() const
{
    const NoteCounts t = totalNotes();
    const double rate = acceptanceRate();
    QString s;
    s += QStringLiteral("elapsed            %1 s\n").arg(elapsedSeconds(), 0, 'f', 1);
    s += QStringLiteral("polls sent         %1 (%2 repeats)\n").arg(pollsSent).arg(repeats);
    s += QStringLiteral("replies            %1 good, %2 bad checksum, %3 malformed, %4 no response\n")
             .arg(repliesGood)
             .arg(repliesBadChecksum)
             .arg(repliesMalformed)
             .arg(noResponses);
    s += QStringLiteral("longest miss run   %1 polls\n").arg(longestWithoutGoodReply);
    s += QStringLiteral("resynchronisations %1 (%2 bytes discarded)\n").arg(resynchronisations).arg(bytesDiscarded);
    s += QStringLiteral("port failures      %1\n").arg(portFailures);
    s += QStringLiteral("reply time         median %1 ms, p99 %2 ms, max %3 ms\n")
             .arg(replyTimes.quantileMs(0.5), 0, 'f', 3)
             .arg(replyTimes.quantileMs(0.99), 0, 'f', 3)
             .arg(replyTimes.maxMs(), 0, 'f', 3);
    s += QStringLiteral("notes              %1 escrowed, %2 stacked, %3 returned, %4 rejected, acceptance %5\n")
             .arg(t.escrowed)
             .arg(t.stacked)
             .arg(t.returned)
             .arg(t.rejected)
             .arg(rate < 0 ? QStringLiteral("-") : QStringLiteral("%1 %").arg(rate * 100, 0, 'f', 1));
    for (const auto& [channel, n] : notes)
        s += QStringLiteral("  channel %1: %2 escrowed, %3 stacked, %4 returned, %5 rejected\n")
                 .arg(channel, 3)
                 .arg(n.escrowed)
                 .arg(n.stacked)
                 .arg(n.returned)
                 .arg(n.rejected);
    s += QStringLiteral("events             %1 cheated, %2 failure, %3 power up, %4 invalid command, %5 jam, "
                        "%6 stacker full\n")
             .arg(events.cheated)
             .arg(events.failure)
             .arg(events.powerUp)
             .arg(events.invalidCommand)
             .arg(events.jam)
             .arg(events.stackerFull);
    return s;
}
