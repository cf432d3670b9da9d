#include "tester/historywindow.h"

#include "run/record.h"
#include "tester/historymodel.h"
#include "tester/plaincell.h"
#include "tester/windowkeys.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <functional>

namespace {

// Copy takes the selected rows whole, not the one cell a table copies.
class HistoryTable : public QTableView {
public:
    using QTableView::QTableView;
    std::function<void()> onCopy;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->matches(QKeySequence::Copy) && onCopy) {
            onCopy();
            event->accept();
            return;
        }
        QTableView::keyPressEvent(event);
    }
};

constexpr int AnyEvent = -1;  // the event filter's "any event": rows with one

// Rows of one direction, or with one event, or both.
class HistoryFilter : public QSortFilterProxyModel {
public:
    explicit HistoryFilter(TraceHistory& history, QObject* parent) : QSortFilterProxyModel(parent), history_(history)
    {
        setSourceModel(&history);
    }
    void set(int kind, int event)
    {
        kind_ = kind;
        event_ = event;
        invalidateRowsFilter();
    }
    bool accepts(int row) const
    {
        if (kind_ >= 0 && int(history_.kindAt(row)) != kind_)
            return false;
        const int e = history_.eventAt(row);
        return event_ == 0 || (event_ == AnyEvent ? e != 0 : e == event_);
    }
    bool active() const { return kind_ >= 0 || event_ != 0; }

protected:
    bool filterAcceptsRow(int row, const QModelIndex&) const override { return accepts(row); }

private:
    TraceHistory& history_;
    int kind_ = -1;  // a TraceHistory::Kind, or -1 for all
    int event_ = 0;  // 1 + index in frames::EventRows, 0 for all, AnyEvent
};

}  // namespace

HistoryWindow::HistoryWindow(TraceHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history)
{
    setWindowTitle(QStringLiteral("Trace history"));
    setObjectName(QStringLiteral("HistoryWindow"));

    pause_ = new QPushButton(QStringLiteral("&Pause"), this);
    pause_->setCheckable(true);
    pause_->setToolTip(QStringLiteral("Hold the table still while polling goes on"));
    direction_ = new QComboBox(this);
    direction_->setAccessibleName(QStringLiteral("Direction"));
    direction_->addItem(QStringLiteral("All directions"), -1);
    for (const char* name : {"host", "validator", "timeout", "discarded", "operator", "error"})
        direction_->addItem(QString::fromLatin1(name), direction_->count() - 1);
    event_ = new QComboBox(this);
    event_->setAccessibleName(QStringLiteral("Event"));
    event_->addItem(QStringLiteral("All events"), 0);
    event_->addItem(QStringLiteral("Any event"), AnyEvent);
    for (std::size_t i = 0; i < frames::EventRows.size(); ++i)
        event_->addItem(frames::EventRows[i].text.toString(), int(i + 1));
    find_ = new QLineEdit(this);
    find_->setPlaceholderText(QStringLiteral("Find (Ctrl+F)"));
    find_->setAccessibleName(QStringLiteral("Find"));
    find_->setClearButtonEnabled(true);
    auto* next = new QPushButton(QStringLiteral("&Next"), this);
    auto* previous = new QPushButton(QStringLiteral("Pre&vious"), this);
    auto* save = new QPushButton(QStringLiteral("&Save as CSV..."), this);
    for (QPushButton* b : {pause_, next, previous, save})
        b->setAutoDefault(false);

    auto* bar = new QHBoxLayout;
    bar->addWidget(pause_);
    bar->addWidget(direction_);
    bar->addWidget(event_);
    bar->addWidget(find_, 1);
    bar->addWidget(next);
    bar->addWidget(previous);
    bar->addWidget(save);

    filter_ = new HistoryFilter(history_, this);
    auto* table = new HistoryTable(this);
    table->onCopy = [this] { QApplication::clipboard()->setText(rowsAsCsv(true)); };
    view_ = table;
    view_->setObjectName(QStringLiteral("HistoryTable"));
    view_->setAccessibleName(QStringLiteral("Trace history"));
    view_->setModel(&history_);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setWordWrap(false);
    view_->setItemDelegate(new PlainCellDelegate(view_));
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_->verticalHeader()->hide();
    // A million rows of one height: nothing is measured row by row.
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view_->horizontalHeader()->setStretchLastSection(true);
    const int digit = view_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[TraceHistory::ColumnCount] = {12, 10, 9, 33, 11, 12, 11, 7, 8, 16};
    const QFontMetrics header(view_->horizontalHeader()->font());
    for (int c = 0; c < TraceHistory::ColumnCount; ++c)
        view_->setColumnWidth(c, std::max(widths[c] * digit + 12,
                                           header.horizontalAdvance(history_.headerData(c, Qt::Horizontal).toString()) + 24));

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("HistoryStatus"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    layout->addWidget(status_);
    int columns = 0;
    for (int c = 0; c < TraceHistory::ColumnCount; ++c)
        columns += view_->columnWidth(c);
    resize(columns + view_->verticalScrollBar()->sizeHint().width() + 30, 480);

    // Follows the newest row while the table is at its bottom and not paused.
    QScrollBar* scroll = view_->verticalScrollBar();
    connect(scroll, &QScrollBar::valueChanged, this, [this, scroll](int v) { atBottom_ = v >= scroll->maximum(); });
    connect(scroll, &QScrollBar::rangeChanged, this, [this, scroll](int, int max) {
        if (following())
            scroll->setValue(max);
    });
    connect(pause_, &QPushButton::toggled, this, [this](bool paused) {
        if (!paused) {
            atBottom_ = true;
            view_->scrollToBottom();
        }
    });
    // The count below the table changes with every batch; told once a second,
    // so the window is not laid out again four times a second for it.
    statusTimer_.setSingleShot(true);
    statusTimer_.setInterval(StatusMs);
    connect(&statusTimer_, &QTimer::timeout, this, [this] { showStatus(); });
    connect(&history_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (!statusTimer_.isActive())
            statusTimer_.start();
    });
    connect(direction_, &QComboBox::currentIndexChanged, this, [this] { applyFilter(); });
    connect(event_, &QComboBox::currentIndexChanged, this, [this] { applyFilter(); });
    connect(find_, &QLineEdit::returnPressed, this, [this] { findNext(true); });
    connect(next, &QPushButton::clicked, this, [this] { findNext(true); });
    connect(previous, &QPushButton::clicked, this, [this] { findNext(false); });
    connect(save, &QPushButton::clicked, this, [this] { saveAsked(); });

    auto* findKey = new QShortcut(QKeySequence::Find, this);
    connect(findKey, &QShortcut::activated, this, [this] {
        find_->setFocus();
        find_->selectAll();
    });
    connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.addAction(QStringLiteral("Copy rows"), QKeySequence::Copy, this,
                       [this] { QApplication::clipboard()->setText(rowsAsCsv(true)); });
        menu.addAction(QStringLiteral("Save as CSV..."), this, [this] { saveAsked(); });
        menu.exec(view_->viewport()->mapToGlobal(at));
    });
    closeOnEscapeAndCtrlW(this);

    history_.flush();
    view_->scrollToBottom();
    showStatus();
}

HistoryWindow::~HistoryWindow() = default;

bool HistoryWindow::following() const
{
    return atBottom_ && !pause_->isChecked();
}

void HistoryWindow::applyFilter()
{
    auto* f = static_cast<HistoryFilter*>(filter_);
    f->set(direction_->currentData().toInt(), event_->currentData().toInt());
    // Unfiltered, the table reads the history itself: a filter keeps a map
    // of every row, which a million rows need not pay for.
    QAbstractItemModel* want = f->active() ? static_cast<QAbstractItemModel*>(f) : &history_;
    if (view_->model() != want) {
        QList<int> widths;
        for (int c = 0; c < TraceHistory::ColumnCount; ++c)
            widths << view_->columnWidth(c);
        view_->setModel(want);
        for (int c = 0; c < TraceHistory::ColumnCount; ++c)
            view_->setColumnWidth(c, widths[c]);
    }
    if (following())
        view_->scrollToBottom();
    showStatus();
}

int HistoryWindow::sourceRow(int viewRow) const
{
    if (view_->model() == &history_)
        return viewRow;
    return filter_->mapToSource(filter_->index(viewRow, 0)).row();
}

void HistoryWindow::showStatus()
{
    statusTimer_.stop();
    const double mb = double(TraceHistory::bytesForRows(history_.limit(), true)) / 1e6;
    QString text = QStringLiteral("%L1 rows kept; at most the newest %L2 (about %3 MB).")
                       .arg(qulonglong(history_.size()))
                       .arg(qulonglong(history_.limit()))
                       .arg(mb, 0, 'f', 0);
    if (history_.dropped() > 0)
        text += QStringLiteral(" %L1 older rows were dropped.").arg(qulonglong(history_.dropped()));
    if (view_->model() != &history_)
        text += QStringLiteral(" Showing %L1 that pass the filter.").arg(view_->model()->rowCount());
    status_->setText(text);
}

bool HistoryWindow::findNext(bool forward)
{
    history_.flush();
    const auto* f = static_cast<HistoryFilter*>(filter_);
    const QModelIndex current = view_->currentIndex();
    int row = current.isValid() ? sourceRow(current.row()) + (forward ? 1 : -1)
                                : (forward ? 0 : history_.rowCount() - 1);
    const QString text = find_->text();
    for (;;) {
        row = history_.find(text, row, forward);
        if (row < 0) {
            showStatus();
            status_->setText(status_->text() + QStringLiteral(" No further row holds \"%1\".").arg(text));
            return false;
        }
        if (!f->active() || f->accepts(row))
            break;
        row += forward ? 1 : -1;
    }
    const QModelIndex at = view_->model() == &history_ ? history_.index(row, 0)
                                                        : filter_->mapFromSource(history_.index(row, 0));
    // Selecting a row holds the table still there.
    view_->setCurrentIndex(at);
    view_->selectionModel()->select(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view_->scrollTo(at, QAbstractItemView::PositionAtCenter);
    atBottom_ = view_->verticalScrollBar()->value() >= view_->verticalScrollBar()->maximum();
    return true;
}

QString HistoryWindow::rowsAsCsv(bool selectedOnly) const
{
    history_.flush();
    QList<int> rows;
    if (selectedOnly)
        for (const QModelIndex& i : view_->selectionModel()->selectedRows())
            rows << sourceRow(i.row());
    std::sort(rows.begin(), rows.end());
    SessionRecord::LocalStamp stamp;
    QString out = QString::fromLatin1(SessionRecord::header());
    if (!rows.isEmpty() || selectedOnly) {
        for (int r : rows)
            out += history_.csvLine(r, stamp);
        return out;
    }
    const int shown = view_->model()->rowCount();
    for (int r = 0; r < shown; ++r)
        out += history_.csvLine(sourceRow(r), stamp);
    return out;
}

bool HistoryWindow::saveCsv(const QString& path, QString* error) const
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(rowsAsCsv(false).toUtf8()) < 0 || !f.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

void HistoryWindow::saveAsked()
{
    QFileDialog dialog(this, QStringLiteral("Save trace history"), QString(),
                       QStringLiteral("Records (*.csv);;All files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(QStringLiteral("history.csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString error;
    if (!saveCsv(dialog.selectedFiles().constFirst(), &error)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Pollbench"),
                        QStringLiteral("The history could not be saved.\n\n%1").arg(error), QMessageBox::Ok, this);
        box.exec();
    }
}
