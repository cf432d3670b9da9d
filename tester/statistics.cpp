#include "tester/statistics.h"

#include "link/frames.h"
#include "link/runstats.h"
#include "tester/windowkeys.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
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

void NoteChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm(font());
    const int legend = fm.height() + 6;
    const int axisLabel = fm.horizontalAdvance(QStringLiteral("000000")) + 6;
    const QRect plot = rect().adjusted(axisLabel, legend + 4, -8, -(fm.height() + 6));
    if (plot.width() <= 0 || plot.height() <= 0 || groups_.empty())
        return;

    // Legend along the top.
    int x = plot.left();
    for (const Series& s : SeriesOf) {
        p.fillRect(QRect(x, 4, fm.height() - 4, fm.height() - 4), s.color);
        x += fm.height();
        const QString name = QString::fromLatin1(s.name);
        p.setPen(palette().text().color());
        p.drawText(x, 4 + fm.ascent() - 2, name);
        x += fm.horizontalAdvance(name) + 16;
    }

    std::int64_t top = 1;
    for (const Group& g : groups_)
        top = std::max({top, g.stacked, g.returned, g.rejected});

    // The axis: zero and the largest count.
    p.setPen(palette().mid().color());
    p.drawLine(plot.bottomLeft(), plot.bottomRight());
    p.drawLine(plot.bottomLeft(), plot.topLeft());
    p.setPen(palette().text().color());
    p.drawText(QRect(0, plot.top() - fm.height() / 2, axisLabel - 4, fm.height()), Qt::AlignRight, QString::number(top));
    p.drawText(QRect(0, plot.bottom() - fm.height() / 2, axisLabel - 4, fm.height()), Qt::AlignRight, QStringLiteral("0"));

    const double slot = double(plot.width()) / double(groups_.size());
    const double bar = std::max(1.0, (slot - 4) / 3.0);
    for (std::size_t i = 0; i < groups_.size(); ++i) {
        const Group& g = groups_[i];
        const double left = plot.left() + slot * double(i) + 2;
        for (int s = 0; s < 3; ++s) {
            const double h = double(plot.height()) * double(valueOf(g, s)) / double(top);
            p.fillRect(QRectF(left + bar * s, plot.bottom() - h, bar - 1, h), SeriesOf[std::size_t(s)].color);
        }
        p.drawText(QRectF(plot.left() + slot * double(i), plot.bottom() + 2, slot, fm.height()), Qt::AlignHCenter,
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
    chart_ = new NoteChart(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(figures_);
    layout->addWidget(chart_, 1);
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
    figures_->setText(statistics_.counting() ? statistics_.toText().trimmed()
                                             : QStringLiteral("Polling has not started."));
    std::vector<NoteChart::Group> groups;
    for (int c = 1; c <= frames::ChannelCount; ++c)
        groups.push_back({c, 0, 0, 0});
    for (const auto& [channel, n] : statistics_.notes) {
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
