// A run's figures as one read-only value, and every format they are shown or
// kept in: the summary JSON beside a record and in a --report, the lines of
// text on a terminal and in the Statistics window.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <map>

// Reply times in bins of 10 us up to 2 s, kept sparse: bounded memory however
// long the run (a few bins in practice), and far finer than the line's own
// 1 ms per byte.
class ReplyTimes {
public:
    static constexpr std::int64_t BinNs = 10'000;
    static constexpr int Bins = 200'000;

    void add(std::int64_t ns);
    void clear();
    std::int64_t count() const { return count_; }
    // Milliseconds; 0 with no samples. Quantiles are read to the bin.
    double quantileMs(double q) const;
    double maxMs() const { return double(maxNs_) / 1e6; }

private:
    std::map<std::int32_t, std::int64_t> bins_;  // bin -> samples
    std::int64_t count_ = 0;
    std::int64_t overflow_ = 0;  // samples beyond the last bin
    std::int64_t maxNs_ = 0;
};

struct NoteCounts {
    std::int64_t escrowed = 0;
    std::int64_t stacked = 0;
    std::int64_t returned = 0;
    std::int64_t rejected = 0;
};

struct Figures {
    // From the first start of polling (or the last reset) to when the
    // figures were taken.
    bool counting = false;
    QDateTime startedAt;  // in UTC: the local zone is read only when shown
    double elapsedSeconds = 0;

    std::int64_t pollsSent = 0;
    std::int64_t repeats = 0;
    std::int64_t repliesGood = 0;
    std::int64_t repliesBadChecksum = 0;
    // STX and a good checksum, but the length byte or ETX out of place: noise
    // that passed the sum. Like a bad checksum, nothing of it is counted.
    std::int64_t repliesMalformed = 0;
    std::int64_t noResponses = 0;
    std::int64_t resynchronisations = 0;
    std::int64_t bytesDiscarded = 0;
    std::int64_t portFailures = 0;
    // Polls in a row that drew no good reply; the longest such run.
    std::int64_t pollsWithoutGoodReply = 0;
    std::int64_t longestWithoutGoodReply = 0;
    ReplyTimes replyTimes;

    // Notes by channel (0: a note no channel was named for).
    std::map<int, NoteCounts> notes;
    NoteCounts totalNotes() const;
    // stacked / (stacked + rejected + returned); negative when there is no note.
    double acceptanceRate() const;

    struct Events {
        std::int64_t cheated = 0;
        std::int64_t failure = 0;
        std::int64_t powerUp = 0;
        std::int64_t invalidCommand = 0;
        std::int64_t jam = 0;
        std::int64_t stackerFull = 0;
    } events;
};

// The figures as the summary file keeps them.
QJsonObject figuresJson(const Figures& f);
// The figures as lines of text, for a terminal.
QString figuresText(const Figures& f);
// What the Statistics window shows.
QString statisticsWindowText(const Figures& f);
