// Everything the line carried since polling first started in this window, one
// row each, for the trace history window: a table model that keeps the newest
// rows up to a limit in 32 bytes a row, and tells its views of new rows in
// batches so a burst of replies costs one update.
#pragma once

#include "link/frames.h"
#include "run/record.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QTimer>

#include <array>
#include <cstdint>
#include <deque>

class TraceHistory : public QAbstractTableModel {
    Q_OBJECT
public:
    // About 24 hours at 30 ms.
    static constexpr std::size_t DefaultLimit = 1'000'000;
    // New rows reach the views at most this often: four times a second is
    // live to the eye, and the table is laid out and painted no more often
    // however fast the line runs.
    static constexpr int BatchMs = 250;

    // The record's "dir" values, in its words.
    enum class Kind : std::uint8_t { Host, Validator, Timeout, Discarded, Operator, Error };
    // The columns, in the record's order.
    enum Column { TimeColumn, MsColumn, DirColumn, BytesColumn, RequestColumn, StateColumn, EventColumn,
                  ChannelColumn, ChecksumColumn, NoteColumn, ColumnCount };

    explicit TraceHistory(std::size_t limit = DefaultLimit, QObject* parent = nullptr);

    // ---- what happened; ns on the session's clock ----
    void addHost(std::int64_t ns, const frames::HostMessage& message, bool repeated);
    void addReply(std::int64_t ns, const frames::ValidatorReply& reply, bool checksumOk,
                  const frames::StatusDecoding& decoding);
    void addTimeout(std::int64_t ns);
    void addDiscarded(std::int64_t ns, const QByteArray& bytes);
    void addOperator(std::int64_t ns, const QString& note);
    void addError(std::int64_t ns, int number);

    // Tells the views of the rows added and dropped since the last batch.
    void flush();

    std::size_t limit() const { return limit_; }
    // Rows held, the views' count lagging by at most one batch.
    std::size_t size() const { return rows_.size(); }
    // Older rows let go to stay within the limit.
    std::uint64_t dropped() const { return dropped_; }
    // What the rows take in memory, with their texts and long byte runs.
    std::size_t memoryBytes() const;
    // What a history of this many rows takes, as the window states it; the
    // more while a table shows them (a table keeps 8 bytes for each row).
    static std::size_t bytesForRows(std::size_t rows, bool shown = false);

    // By view row; rows dropped that the views still hold read as an
    // operator row with no text.
    Kind kindAt(int row) const;
    // 1 + the index of the reply's event in frames::EventRows; 0 for none.
    int eventAt(int row) const;
    // One CSV row in the record's format, line end included.
    QString csvLine(int row, SessionRecord::LocalStamp& stamp) const;
    // The first row from `from` on (backwards when not forward) whose
    // fields hold text, ignoring case; -1 when none does.
    int find(const QString& text, int from, bool forward) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    // 32 bytes: the frame's bytes inline, the decoded state and event as
    // table indexes, any text by number in a table of its own.
    struct Row {
        std::int64_t ns = 0;
        std::uint32_t extra = 0;  // a note's text number; for a long byte run, its number
        Kind kind = Kind::Operator;
        std::uint8_t flags = 0;
        std::uint8_t state = 0;  // 1 + index in frames::StateRows, 0 none
        std::uint8_t event = 0;  // 1 + index in frames::EventRows, 0 none
        std::uint8_t channel = 0;
        std::uint8_t size = 0;  // bytes inline
        std::array<std::uint8_t, frames::ValidatorReply::Size> bytes{};
    };
    static_assert(sizeof(Row) == 32);
    enum Flag : std::uint8_t { Repeated = 1, ChecksumOk = 2, LongBytes = 4, HasNote = 8, Malformed = 16 };

    void append(Row row);
    // Tells the views of new rows; of dropped ones too when `drops`, or
    // when a step's worth is gone.
    void tell(bool drops);
    const Row* rowAt(int viewRow) const;
    QByteArray bytesOf(const Row& r) const;
    QString field(const Row& r, int column) const;
    std::uint32_t textNumber(const QString& text);

    std::size_t limit_;
    std::deque<Row> rows_;
    std::deque<QByteArray> long_;  // byte runs longer than a row holds, oldest first
    std::uint32_t longBase_ = 0;   // number of long_.front()
    QStringList texts_;            // notes: few distinct ones
    QHash<QString, std::uint32_t> textIndex_;
    std::uint64_t dropped_ = 0;

    bool started_ = false;
    std::int64_t startNs_ = 0;  // the first row's clock
    qint64 startUtcMs_ = 0;     // and the wall clock then
    mutable SessionRecord::LocalStamp clock_;  // the clock column's

    int shown_ = 0;          // rows the views know of
    int droppedUnshown_ = 0;  // of those, how many are gone from the front
    int dropStep_;
    QTimer batch_;
};
