#include "tester/historymodel.h"

#include <QDateTime>

#include <algorithm>

namespace {

const char* const KindNames[] = {"host", "validator", "timeout", "discarded", "operator", "error"};
const char* const ColumnNames[] = {"Time", "ms", "Direction", "Bytes", "Request",
                                   "State", "Event", "Channel", "Checksum", "Note"};

template <std::size_t N>
std::uint8_t indexIn(const std::array<frames::StatusRow, N>& table, const QString& text)
{
    if (text.isEmpty())
        return 0;
    for (std::size_t i = 0; i < N; ++i)
        if (table[i].text == text)
            return std::uint8_t(i + 1);
    return 0;
}

template <std::size_t N>
QString textOf(const std::array<frames::StatusRow, N>& table, std::uint8_t index)
{
    return index == 0 || index > N ? QString() : table[index - 1].text.toString();
}

}  // namespace

TraceHistory::TraceHistory(std::size_t limit, QObject* parent)
    : QAbstractTableModel(parent), limit_(std::max<std::size_t>(limit, 1)), dropStep_(int(std::max<std::size_t>(limit_ / 100, 1)))
{
    batch_.setSingleShot(true);
    batch_.setInterval(BatchMs);
    connect(&batch_, &QTimer::timeout, this, [this] { tell(false); });
}

std::size_t TraceHistory::bytesForRows(std::size_t rows, bool shown)
{
    // A deque keeps its rows in blocks of 512 bytes, with a pointer to each
    // block; a table's header keeps one 8-byte item for each row.
    constexpr std::size_t perBlock = 512 / sizeof(Row);
    constexpr std::size_t headerItem = 8;
    return rows * sizeof(Row) + (rows / perBlock + 1) * sizeof(void*) + (shown ? rows * headerItem : 0);
}

std::size_t TraceHistory::memoryBytes() const
{
    std::size_t n = bytesForRows(rows_.size());
    for (const QByteArray& b : long_)
        n += sizeof(QByteArray) + std::size_t(b.capacity());
    for (const QString& t : texts_)
        n += sizeof(QString) * 2 + std::size_t(t.capacity()) * 2 + 32;
    return n;
}

void TraceHistory::append(Row row)
{
    if (!started_) {
        started_ = true;
        startNs_ = row.ns;
        startUtcMs_ = QDateTime::currentMSecsSinceEpoch();
    }
    if (rows_.size() == limit_) {
        if (rows_.front().flags & LongBytes) {
            long_.pop_front();
            ++longBase_;
        }
        rows_.pop_front();
        ++dropped_;
        // A row the views know of is gone; one they never saw just goes.
        if (droppedUnshown_ < shown_)
            ++droppedUnshown_;
    }
    rows_.push_back(row);
    if (!batch_.isActive())
        batch_.start();
}

void TraceHistory::flush()
{
    tell(true);
}

void TraceHistory::tell(bool drops)
{
    batch_.stop();
    // A table takes as long to drop one row from its top as a hundred
    // thousand: once full, the oldest go from the views in hundredths.
    if (droppedUnshown_ > 0 && (drops || droppedUnshown_ >= dropStep_)) {
        beginRemoveRows({}, 0, droppedUnshown_ - 1);
        shown_ -= droppedUnshown_;
        droppedUnshown_ = 0;
        endRemoveRows();
    }
    const int held = int(rows_.size()) + droppedUnshown_;
    if (held > shown_) {
        beginInsertRows({}, shown_, held - 1);
        shown_ = held;
        endInsertRows();
    }
}

std::uint32_t TraceHistory::textNumber(const QString& text)
{
    const auto it = textIndex_.constFind(text);
    if (it != textIndex_.constEnd())
        return *it;
    const auto n = std::uint32_t(texts_.size());
    texts_ << text;
    textIndex_.insert(text, n);
    return n;
}

void TraceHistory::addHost(std::int64_t ns, const frames::HostMessage& m, bool repeated)
{
    Row r;
    r.ns = ns;
    r.kind = Kind::Host;
    r.flags = repeated ? Repeated : 0;
    r.size = frames::HostMessage::Size;
    std::copy(m.bytes.begin(), m.bytes.end(), r.bytes.begin());
    append(r);
}

void TraceHistory::addReply(std::int64_t ns, const frames::ValidatorReply& reply, bool checksumOk,
                            const frames::StatusDecoding& d)
{
    Row r;
    r.ns = ns;
    r.kind = Kind::Validator;
    r.flags = checksumOk ? ChecksumOk : 0;
    // Decoded only from a frame the validator vouches for whole, as the
    // record has it; the event of this reply alone, since the decoded event
    // text stays from reply to reply.
    if (reply.isWholeFrame()) {
        r.state = indexIn(frames::StateRows, d.stateText);
        r.event = indexIn(frames::EventRows, frames::decodeStatus(reply, QString(), QString()).eventText);
        r.channel = std::uint8_t(std::clamp(d.channelNumber, 0, 255));
    } else if (checksumOk) {
        r.flags |= Malformed;
    }
    r.size = frames::ValidatorReply::Size;
    r.bytes = reply.bytes;
    append(r);
}

void TraceHistory::addTimeout(std::int64_t ns)
{
    Row r;
    r.ns = ns;
    r.kind = Kind::Timeout;
    append(r);
}

void TraceHistory::addDiscarded(std::int64_t ns, const QByteArray& bytes)
{
    Row r;
    r.ns = ns;
    r.kind = Kind::Discarded;
    if (bytes.size() <= qsizetype(r.bytes.size())) {
        r.size = std::uint8_t(bytes.size());
        std::copy(bytes.begin(), bytes.end(), r.bytes.begin());
    } else {
        r.flags = LongBytes;
        r.extra = longBase_ + std::uint32_t(long_.size());
        long_.push_back(bytes);
    }
    append(r);
}

void TraceHistory::addOperator(std::int64_t ns, const QString& note)
{
    Row r;
    r.ns = ns;
    r.kind = Kind::Operator;
    r.flags = HasNote;
    r.extra = textNumber(note);
    append(r);
}

void TraceHistory::addError(std::int64_t ns, int number)
{
    Row r;
    r.ns = ns;
    r.kind = Kind::Error;
    r.flags = HasNote;
    r.extra = textNumber(QString::number(number));
    append(r);
}

const TraceHistory::Row* TraceHistory::rowAt(int viewRow) const
{
    const int at = viewRow - droppedUnshown_;
    if (at < 0 || at >= int(rows_.size()))
        return nullptr;
    return &rows_[std::size_t(at)];
}

TraceHistory::Kind TraceHistory::kindAt(int row) const
{
    const Row* r = rowAt(row);
    return r ? r->kind : Kind::Operator;
}

int TraceHistory::eventAt(int row) const
{
    const Row* r = rowAt(row);
    return r ? r->event : 0;
}

QByteArray TraceHistory::bytesOf(const Row& r) const
{
    if (r.flags & LongBytes)
        return long_[r.extra - longBase_];
    return QByteArray(reinterpret_cast<const char*>(r.bytes.data()), r.size);
}

QString TraceHistory::field(const Row& r, int column) const
{
    switch (column) {
    case MsColumn:
        return QString::number(double(r.ns - startNs_) / 1e6, 'f', 3);
    case DirColumn:
        return QLatin1StringView(KindNames[int(r.kind)]);
    case BytesColumn:
        return frames::hexBytes(bytesOf(r));
    case RequestColumn:
        if (r.kind != Kind::Host)
            return {};
        {
            frames::HostMessage m;
            std::copy_n(r.bytes.begin(), m.bytes.size(), m.bytes.begin());
            return SessionRecord::requestText(m);
        }
    case StateColumn:
        return textOf(frames::StateRows, r.state);
    case EventColumn:
        return textOf(frames::EventRows, r.event);
    case ChannelColumn:
        return r.kind == Kind::Validator && r.channel != 0 ? QString::number(r.channel) : QString();
    case ChecksumColumn:
        if (r.kind != Kind::Validator)
            return {};
        return (r.flags & ChecksumOk) ? QStringLiteral("ok") : QStringLiteral("bad");
    case NoteColumn:
        if (r.flags & HasNote)
            return texts_[int(r.extra)];
        if (r.flags & Repeated)
            return QStringLiteral("repeated");
        if (r.flags & Malformed)
            return QStringLiteral("malformed");
        if (r.kind == Kind::Timeout)
            return QStringLiteral("no response");
        if (r.kind == Kind::Discarded)
            return QStringLiteral("%1 bytes").arg(bytesOf(r).size());
        return {};
    default:
        return {};
    }
}

QString TraceHistory::csvLine(int row, SessionRecord::LocalStamp& stamp) const
{
    const Row* r = rowAt(row);
    if (!r)
        return {};
    SessionRecord::Row out;
    out.ns = r->ns;
    out.dir = KindNames[int(r->kind)];
    out.bytes = field(*r, BytesColumn);
    out.request = field(*r, RequestColumn);
    out.state = field(*r, StateColumn);
    out.event = field(*r, EventColumn);
    out.channel = field(*r, ChannelColumn);
    out.checksum = field(*r, ChecksumColumn);
    out.note = field(*r, NoteColumn);
    return SessionRecord::rowText(out, startUtcMs_, startNs_, stamp);
}

int TraceHistory::find(const QString& text, int from, bool forward) const
{
    if (text.isEmpty())
        return -1;
    const int n = rowCount();
    for (int row = from; row >= 0 && row < n; row += forward ? 1 : -1) {
        const Row* r = rowAt(row);
        if (!r)
            continue;
        for (int c = DirColumn; c < ColumnCount; ++c)
            if (field(*r, c).contains(text, Qt::CaseInsensitive))
                return row;
    }
    return -1;
}

int TraceHistory::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shown_;
}

int TraceHistory::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TraceHistory::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const Row* r = rowAt(index.row());
    if (!r)
        return {};
    if (index.column() == TimeColumn) {
        const qint64 utcMs = startUtcMs_ + (r->ns - startNs_) / 1'000'000;
        return role == Qt::ToolTipRole ? QDateTime::fromMSecsSinceEpoch(utcMs).toString(Qt::ISODateWithMs)
                                       : clock_.timeOfDay(utcMs);
    }
    return field(*r, index.column());
}

QVariant TraceHistory::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QLatin1StringView(ColumnNames[section]);
}
