#include "tester/statistics.h"

#include "link/frames.h"
#include "run/runstats.h"
#include "tester/windowkeys.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace {

struct Series {
    const char* name;
    QColor color;
};
const std::array<Series, 3> SeriesOf{{
    {"stacked", QColor(0x2E, 0x8B, 0x57)},
    {"returned", QColor(0x1E, 0x64, 0xC8)},
    {"rejected", QColor(0xC8, 0x32, 0x32)},
}};

std::int64_t valueOf(const NoteChart::Group& g, int series)
{
    return series == 0 ? g.stacked : series == 1 ? g.returned : g.rejected;
}

}  // namespace

NoteChart::NoteChart(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(420, 180);
    setAccessibleName(QStringLiteral("Notes per channel"));
}

void NoteChart::setGroups(std::vector<Group> groups)
{
    groups_ = std::move(groups);
    update();
}

namespace {

// Room for the axis labels and the legend, in the widget's font.
struct Margins {
    int legend, axis, labels;
};
Margins marginsFor(const QFontMetrics& fm)
{
    return {fm.height() + 6, fm.horizontalAdvance(QStringLiteral("000000")) + 6, fm.height() + 6};
}

// Widest a bar gets: wide bars on a wide window read as blocks, not bars.
constexpr double MaxBarWidth = 14;

}  // namespace

std::vector<std::int64_t> NoteChart::ticks(std::int64_t top)
{
    top = std::max<std::int64_t>(top, 1);
    std::int64_t step = 1;
    for (std::int64_t power = 1;; power *= 10) {
        const std::int64_t candidates[] = {power, 2 * power, 5 * power};
        const auto fits = std::find_if(std::begin(candidates), std::end(candidates),
                                       [top](std::int64_t c) { return (top + c - 1) / c <= MaxTicks; });
        if (fits != std::end(candidates)) {
            step = *fits;
            break;
        }
    }
    std::vector<std::int64_t> out;
    for (std::int64_t v = 0; out.empty() || out.back() < top; v += step)
        out.push_back(v);
    return out;
}

QRectF NoteChart::plotArea() const
{
    const Margins m = marginsFor(QFontMetrics(font()));
    return QRectF(rect()).adjusted(m.axis, m.legend + 4, -8, -m.labels);
}

QRectF NoteChart::slotOf(std::size_t group) const
{
    const QRectF plot = plotArea();
    const double slot = plot.width() / double(std::max<std::size_t>(groups_.size(), 1));
    return QRectF(plot.left() + slot * double(group), plot.top(), slot, plot.height());
}

QRectF NoteChart::barOf(std::size_t group, int series) const
{
    const QRectF slot = slotOf(group);
    const double bar = std::clamp((slot.width() - 4) / 3.0, 1.0, MaxBarWidth);
    const double left = slot.center().x() - 1.5 * bar;
    return QRectF(left + bar * series, slot.top(), bar, slot.height());
}

void NoteChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm(font());
    const Margins m = marginsFor(fm);
    const QRectF plot = plotArea();
    if (plot.width() <= 0 || plot.height() <= 0 || groups_.empty())
        return;

    // Legend along the top.
    int x = int(plot.left());
    for (const Series& s : SeriesOf) {
        p.fillRect(QRect(x, 4, fm.height() - 4, fm.height() - 4), s.color);
        x += fm.height();
        const QString name = QString::fromLatin1(s.name);
        p.setPen(palette().text().color());
        p.drawText(x, 4 + fm.ascent() - 2, name);
        x += fm.horizontalAdvance(name) + 16;
    }

    std::int64_t most = 1;
    for (const Group& g : groups_)
        most = std::max({most, g.stacked, g.returned, g.rejected});
    const std::vector<std::int64_t> marks = ticks(most);
    const double top = double(marks.back());
    const auto yOf = [&](double v) { return plot.bottom() - plot.height() * v / top; };

    // The count axis, with a faint line across at each mark.
    for (const std::int64_t v : marks) {
        const double y = yOf(double(v));
        p.setPen(v == 0 ? palette().mid().color() : palette().midlight().color());
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(palette().text().color());
        p.drawText(QRectF(0, y - fm.height() / 2.0, m.axis - 4, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v));
    }
    p.setPen(palette().mid().color());
    p.drawLine(plot.bottomLeft(), plot.topLeft());

    for (std::size_t i = 0; i < groups_.size(); ++i) {
        const Group& g = groups_[i];
        for (int s = 0; s < 3; ++s) {
            const QRectF bar = barOf(i, s);
            const double y = yOf(double(valueOf(g, s)));
            p.fillRect(QRectF(bar.left(), y, bar.width() - 1, plot.bottom() - y), SeriesOf[std::size_t(s)].color);
        }
        p.setPen(palette().text().color());
        const QRectF slot = slotOf(i);
        p.drawText(QRectF(slot.left(), plot.bottom() + 2, slot.width(), fm.height()), Qt::AlignHCenter,
                   QString::number(g.channel));
    }
}

StatisticsWindow::StatisticsWindow(RunStatistics& statistics, QWidget* parent)
    : QWidget(parent, Qt::Window), statistics_(statistics)
{
    setWindowTitle(QStringLiteral("Statistics"));
    setObjectName(QStringLiteral("StatisticsWindow"));
    figures_ = new QLabel(this);
    figures_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    figures_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    figures_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Room for the figures with every channel of a note validator listed; a
    // longer list scrolls instead of growing the window while it polls.
    auto* figuresArea = new QScrollArea(this);
    figuresArea->setWidget(figures_);
    figuresArea->setWidgetResizable(true);
    figuresArea->setFrameShape(QFrame::NoFrame);
    const QFontMetrics fm(figures_->font());
    constexpr int FigureLines = 12 + frames::ChannelCount / 2;
    constexpr int FigureColumns = 96;
    figuresArea->setFixedHeight(fm.lineSpacing() * FigureLines + 4);
    chart_ = new NoteChart(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(figuresArea);
    layout->addWidget(chart_, 1);
    setFixedSize(std::max(fm.horizontalAdvance(QLatin1Char('0')) * FigureColumns, chart_->sizeHint().width()) + 40,
                 figuresArea->height() + chart_->sizeHint().height() + 40);
    closeOnEscapeAndCtrlW(this);

    // A burst of changes becomes one repaint.
    refresh_.setSingleShot(true);
    refresh_.setInterval(RefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &StatisticsWindow::refresh);
    connect(&statistics_, &RunStatistics::changed, this, [this] {
        if (isVisible() && !refresh_.isActive())
            refresh_.start();
    });
    refresh();
}

void StatisticsWindow::showEvent(QShowEvent* event)
{
    refresh();
    QWidget::showEvent(event);
}

void StatisticsWindow::refresh()
{
    const Figures figures = statistics_.figures();
    figures_->setText(statisticsWindowText(figures));
    std::vector<NoteChart::Group> groups;
    for (int c = 1; c <= frames::ChannelCount; ++c)
        groups.push_back({c, 0, 0, 0});
    for (const auto& [channel, n] : figures.notes) {
        auto it = std::find_if(groups.begin(), groups.end(), [c = channel](const NoteChart::Group& g) { return g.channel == c; });
        if (it == groups.end())
            it = groups.insert(std::upper_bound(groups.begin(), groups.end(), channel,
                                                [](int c, const NoteChart::Group& g) { return c < g.channel; }),
                               NoteChart::Group{channel, 0, 0, 0});
        it->stacked = n.stacked;
        it->returned = n.returned;
        it->rejected = n.rejected;
    }
    chart_->setGroups(std::move(groups));
}
