#include "run/runstats.h"

#include "link/pollsession.h"

#include <algorithm>

RunStatistics::RunStatistics(PollSession& session, QObject* parent)
    : RunStatistics([&session] { return session.clockNs(); }, parent)
{
    connect(&session, &PollSession::started, this, [this](PollMode, std::int64_t ns) { started(ns); });
    connect(&session, &PollSession::messageBuilt, this, &RunStatistics::built);
    connect(&session, &PollSession::messageSent, this, &RunStatistics::sent);
    connect(&session, &PollSession::noResponse, this, &RunStatistics::noResponse);
    connect(&session, &PollSession::replyChecked, this, &RunStatistics::replied);
    connect(&session, &PollSession::bytesDiscarded, this, &RunStatistics::discarded);
    connect(&session, &PollSession::portFailed, this, &RunStatistics::portFailed);
    connect(&session, &PollSession::sessionReset, this, &RunStatistics::forget);
}

RunStatistics::RunStatistics(std::function<std::int64_t()> now, QObject* parent) : QObject(parent), now_(std::move(now))
{
}

void RunStatistics::clearCounts()
{
    f_ = Figures{};
    timing_ = false;
}

Figures RunStatistics::figures() const
{
    Figures f = f_;
    f.counting = counting_;
    f.startedAt = startedAtUtc_;
    f.elapsedSeconds = counting_ ? double(now_() - startedNs_) / 1e9 : 0.0;
    return f;
}

void RunStatistics::reset()
{
    restart(now_());
}

void RunStatistics::restart(std::int64_t ns)
{
    clearCounts();
    counting_ = true;
    // Kept in UTC: reading the local zone costs a file lookup, paid only when shown.
    startedAtUtc_ = QDateTime::currentDateTimeUtc();
    startedNs_ = ns;
    emit changed();
}

void RunStatistics::forget()
{
    clearCounts();
    counting_ = false;
    startedAtUtc_ = QDateTime();
    startedNs_ = 0;
    freshMessage_ = false;
    lastStatus0_ = lastStatus1_ = 0;
    emit changed();
}

void RunStatistics::started(std::int64_t ns)
{
    if (!counting_)
        restart(ns);
}

void RunStatistics::built()
{
    freshMessage_ = true;
}

void RunStatistics::sent(const SentMessage& m)
{
    if (!counting_ || m.message.isEmpty())
        return;
    ++f_.pollsSent;
    if (m.repeated)
        ++f_.repeats;
    // A run without a good reply grows with every send that follows a miss.
    if (!m.previousAnswered && f_.pollsSent > 1) {
        ++f_.pollsWithoutGoodReply;
        f_.longestWithoutGoodReply = std::max(f_.longestWithoutGoodReply, f_.pollsWithoutGoodReply);
    }
    timing_ = true;
    emit changed();
}

void RunStatistics::noResponse()
{
    if (counting_)
        ++f_.noResponses;
}

void RunStatistics::replied(const CheckedReply& r)
{
    if (!counting_)
        return;
    if (timing_) {
        timing_ = false;
        f_.replyTimes.add(r.sinceWriteNs);
    }
    // Only a frame the validator vouches for whole is counted: noise that
    // begins with STX passes the checksum alone one time in 128.
    if (!r.checksumOk || !r.reply.isWholeFrame()) {
        ++(r.checksumOk ? f_.repliesMalformed : f_.repliesBadChecksum);
        emit changed();
        return;
    }
    ++f_.repliesGood;
    f_.pollsWithoutGoodReply = 0;

    const frames::StatusDecoding& d = r.decoding;
    const std::uint8_t s0 = r.reply.status(0), s1 = r.reply.status(1), s2 = r.reply.status(2);
    // A state is counted as it begins.
    if ((s0 & frames::EscrowedBit) && !(lastStatus0_ & frames::EscrowedBit))
        ++f_.notes[d.channelNumber].escrowed;
    if ((s1 & frames::JammedBit) && !(lastStatus1_ & frames::JammedBit))
        ++f_.events.jam;
    if ((s1 & frames::StackerFullBit) && !(lastStatus1_ & frames::StackerFullBit))
        ++f_.events.stackerFull;
    lastStatus0_ = s0;
    lastStatus1_ = s1;

    // The validator repeats its events until a new message acknowledges
    // them: they are counted once, from the first good reply to each new
    // message. The outcome of a note is read as the window reads it.
    if (freshMessage_) {
        freshMessage_ = false;
        if (d.eventCode == frames::StackedCode)
            ++f_.notes[d.channelNumber].stacked;
        else if (d.eventCode == frames::ReturnedCode)
            ++f_.notes[d.channelNumber].returned;
        else if (d.eventCode == frames::RejectedCode)
            ++f_.notes[d.channelNumber].rejected;
        if (s1 & frames::CheatedBit)
            ++f_.events.cheated;
        if (s2 & frames::FailureBit)
            ++f_.events.failure;
        if (s2 & frames::PowerUpBit)
            ++f_.events.powerUp;
        if (s2 & frames::InvalidCommandBit)
            ++f_.events.invalidCommand;
    }
    emit changed();
}

void RunStatistics::discarded(const QByteArray& bytes)
{
    if (!counting_)
        return;
    ++f_.resynchronisations;
    f_.bytesDiscarded += bytes.size();
    emit changed();
}

void RunStatistics::portFailed()
{
    if (!counting_)
        return;
    ++f_.portFailures;
    emit changed();
}
