// What happened on the line, counted: polls, replies, time-outs,
// resynchronisations, reply times, notes per channel and device events.
// Fed by the poll session's reports alone; the figures come out as one
// value, for a window, a report file or a summary on the terminal.
#pragma once

#include "link/events.h"
#include "run/figures.h"

#include <QDateTime>
#include <QObject>

#include <cstdint>
#include <functional>

class PollSession;

class RunStatistics : public QObject {
    Q_OBJECT
public:
    // Counts what session reports, on the session's clock.
    explicit RunStatistics(PollSession& session, QObject* parent = nullptr);
    // Counts what it is handed; now is the clock in nanoseconds.
    explicit RunStatistics(std::function<std::int64_t()> now, QObject* parent = nullptr);

    // "Reset Totals": counting starts again from now.
    void reset();
    // As before the first start: nothing counted, and not counting.
    void forget();

    bool counting() const { return counting_; }
    // The figures as they are now.
    Figures figures() const;

    // ---- what the session reports ----
    // The first start counts from ns; later ones go on counting.
    void started(std::int64_t ns);
    void built();
    void sent(const SentMessage& sent);
    void noResponse();
    void replied(const CheckedReply& checked);
    void discarded(const QByteArray& bytes);
    void portFailed();

signals:
    void changed();

private:
    void clearCounts();
    void restart(std::int64_t ns);

    std::function<std::int64_t()> now_;
    Figures f_;
    bool counting_ = false;
    QDateTime startedAtUtc_;
    std::int64_t startedNs_ = 0;
    bool timing_ = false;        // the first reply to the last send is still to come
    bool freshMessage_ = false;  // no good reply yet to the last new message
    std::uint8_t lastStatus0_ = 0, lastStatus1_ = 0;  // of the last good reply
};
