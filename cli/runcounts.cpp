#include "cli/runcounts.h"

#include <QJsonArray>

namespace cli {

namespace {

template <std::size_t N>
const frames::StatusRow* rowNamed(const std::array<frames::StatusRow, N>& rows, const char* text)
{
    for (const frames::StatusRow& r : rows)
        if (qstrcmp(r.text, text) == 0)
            return &r;
    return nullptr;
}

// A status bit by the text the window shows for it.
bool flagged(const frames::ValidatorReply& reply, const char* text)
{
    const frames::StatusRow* r = rowNamed(frames::StateRows, text);
    if (!r)
        r = rowNamed(frames::EventRows, text);
    return r && (reply.status(r->statusByte) & r->mask) != 0;
}

}  // namespace

RunCounts::RunCounts(PollSession& session, QObject* parent) : QObject(parent)
{
    connect(&session, &PollSession::messageSent, this, [this](const frames::HostMessage&, bool repeated) {
        ++polls;
        repeats += repeated;
    });
    connect(&session, &PollSession::messageBuilt, this, [this] {
        ++messages_;
        seenForMessage_.fill(false);
        stackedForMessage_ = false;
    });
    connect(&session, &PollSession::noResponse, this, [this] {
        ++timeouts;
        ++conditions[std::size_t(Condition::Timeout)];
    });
    connect(&session, &PollSession::replyChecked, this, &RunCounts::replyChecked);
}

void RunCounts::replyChecked(const frames::ValidatorReply& reply, bool checksumOk,
                             const frames::StatusDecoding& decoding)
{
    if (!checksumOk) {
        // What a spoiled reply says is not trusted; the repeat brings it again.
        ++badChecksums;
        ++conditions[std::size_t(Condition::BadSum)];
        return;
    }
    ++goodReplies;

    auto once = [this](Condition c) {
        bool& seen = seenForMessage_[std::size_t(c)];
        if (!seen)
            ++conditions[std::size_t(c)];
        seen = true;
    };
    if (flagged(reply, "STACKED") && !stackedForMessage_) {
        stackedForMessage_ = true;
        ++stacked[decoding.channelNumber];
    }
    if (flagged(reply, "RETURNED")) {
        if (!seenForMessage_[std::size_t(Condition::Returned)])
            ++returned;
        once(Condition::Returned);
    }
    if (flagged(reply, "REJECTED")) {
        if (!seenForMessage_[std::size_t(Condition::Rejected)])
            ++rejected;
        once(Condition::Rejected);
    }
    if (flagged(reply, "CHEATED"))
        once(Condition::Cheated);
    if (flagged(reply, "FAILURE"))
        once(Condition::Failure);
    if (flagged(reply, "INVALID CMD"))
        once(Condition::Invalid);
    // Every validator reports its power-up at first: only one after the
    // run's first message was acknowledged is news.
    if (flagged(reply, "POWER UP") && messages_ > 1)
        once(Condition::PowerUp);
    const bool jammed = flagged(reply, "JAMMED");
    const bool full = flagged(reply, "STACKER FULL");
    conditions[std::size_t(Condition::Jam)] += jammed && !jammed_;
    conditions[std::size_t(Condition::Full)] += full && !full_;
    jammed_ = jammed;
    full_ = full;
}

qint64 RunCounts::stackedTotal() const
{
    qint64 n = 0;
    for (const auto& [channel, count] : stacked)
        n += count;
    return n;
}

Conditions RunCounts::occurred() const
{
    Conditions c;
    for (int i = 0; i < ConditionCount; ++i)
        c.set(std::size_t(i), conditions[std::size_t(i)] > 0);
    return c;
}

QJsonObject RunCounts::toJson() const
{
    QJsonObject perChannel;
    for (const auto& [channel, count] : stacked)
        perChannel.insert(QString::number(channel), count);
    QJsonObject events;
    for (int i = 0; i < ConditionCount; ++i)
        events.insert(conditionName(Condition(i)), conditions[std::size_t(i)]);
    return QJsonObject{
        {QStringLiteral("polls"), polls},
        {QStringLiteral("repeats"), repeats},
        {QStringLiteral("repliesGood"), goodReplies},
        {QStringLiteral("repliesBadChecksum"), badChecksums},
        {QStringLiteral("noResponses"), timeouts},
        {QStringLiteral("notes"),
         QJsonObject{{QStringLiteral("stacked"), stackedTotal()},
                     {QStringLiteral("stackedPerChannel"), perChannel},
                     {QStringLiteral("returned"), returned},
                     {QStringLiteral("rejected"), rejected}}},
        {QStringLiteral("conditions"), events},
    };
}

}  // namespace cli
