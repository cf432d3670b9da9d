// The session record: every event of a poll session as one CSV row, written
// as it happens, so what the trace panes have scrolled away is kept. Ends
// with the figures of what it recorded as JSON beside the record: counted
// from its own "record started" row, whatever the session counted before.
#pragma once

#include "link/frames.h"

#include <QFile>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <cstdint>
#include <limits>
#include <memory>

class PollSession;
class RunStatistics;

class SessionRecord : public QObject {
    Q_OBJECT
public:
    // The figures written beside the record when it ends are counted by the
    // record itself, from its own start: the session's may have begun earlier.
    explicit SessionRecord(PollSession& session, QObject* parent = nullptr);
    ~SessionRecord() override;

    // Opens path and writes the header (unless appending to a record that
    // has one) and the "record started" row. False, with the reason in
    // error, when the file cannot be opened or written, is no regular file,
    // or another run records to it; nothing is recording then.
    // A record already running is stopped first.
    bool start(const QString& path, bool append, QString* error = nullptr);
    // Writes the "record stopped" row and the summary beside the record.
    void stop();
    bool isRecording() const { return file_.isOpen(); }
    QString path() const { return path_; }
    std::int64_t rows() const { return rows_; }

    static QString summaryPath(const QString& recordPath) { return recordPath + QStringLiteral(".summary.json"); }
    // Held beside the record while it runs, so that a second run cannot
    // append to it at the same time.
    static QString lockPath(const QString& recordPath) { return recordPath + QStringLiteral(".~pollbench-lock"); }
    // One field as RFC 4180 wants it: quoted when it holds a comma, a
    // quote or a line break, quotes doubled.
    static QString csvField(const QString& text);
    static const char* header();
    // "poll ack=1", "stack ack=0", "return ack=1".
    static QString requestText(const frames::HostMessage& message);

    // The time column for an instant: local time with milliseconds and the
    // offset in force then, as ISO 8601. The offset is asked of the time-zone
    // database once per minute of the clock (offsets change on whole
    // minutes), not at every row: that lookup cost more than the rest of a row.
    class LocalStamp {
    public:
        QString operator()(qint64 utcMs);
        // The same instant as HH:mm:ss.zzz, for a table's clock column.
        QString timeOfDay(qint64 utcMs);

    private:
        // Seconds east of UTC at that instant.
        int offsetAt(qint64 utcMs);

        qint64 minute_ = std::numeric_limits<qint64>::min();
        int offset_ = 0;
    };

signals:
    // A write failed (the disk full, the device gone): the record has
    // stopped and polling goes on. Raised once per record.
    void failed(const QString& message);
    // The summary beside the record could not be written; the one there,
    // if any, is from an earlier record.
    void summaryFailed(const QString& message);
    void recordingChanged(bool on);

public:
    // One row of a record, and its CSV line (line end included), timed from
    // startNs on the session's clock, which was startUtcMs on the wall clock.
    // The trace history writes its rows with it too.
    struct Row {
        std::int64_t ns = 0;  // the session's clock
        const char* dir = "";
        QString bytes, request, state, event, channel, checksum, note;
    };
    static QString rowText(const Row& row, qint64 startUtcMs, std::int64_t startNs, LocalStamp& stamp);

private:
    QByteArray rowBytes(const Row& row);
    void write(const Row& row);
    bool writeWhole(const QByteArray& bytes, QString* why);
    void operatorRow(const QString& note, std::int64_t ns);
    void close(bool writeStopRow);
    void writeSummary();

    PollSession& session_;
    QFile file_;
    std::unique_ptr<QLockFile> lock_;
    RunStatistics* statistics_ = nullptr;  // what this record holds, for its summary
    bool appended_ = false;                // the file held rows of earlier runs
    QString path_;
    qint64 startUtcMs_ = 0;
    std::int64_t startNs_ = 0;
    LocalStamp stamp_;
    std::int64_t rows_ = 0;
    bool starting_ = false;
    qint64 goodSize_ = 0;  // the file up to the end of the last whole row
    QString countsFrom_;   // the time of the "record started" row
    QString recordError_;  // why the record stopped early; empty while it goes
};
