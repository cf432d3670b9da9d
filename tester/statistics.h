// The run's figures in a window of their own, live, with a bar chart of
// the notes stacked, returned and rejected on each channel.
#pragma once

#include <QTimer>
#include <QWidget>

#include <vector>

class QLabel;
class RunStatistics;

// Three bars a channel, painted: channels 1 to 13 always, and any other
// channel a note named.
class NoteChart : public QWidget {
    Q_OBJECT
public:
    struct Group {
        int channel = 0;
        std::int64_t stacked = 0, returned = 0, rejected = 0;
    };
    explicit NoteChart(QWidget* parent = nullptr);
    void setGroups(std::vector<Group> groups);
    const std::vector<Group>& groups() const { return groups_; }
    QSize sizeHint() const override { return {560, 220}; }

    // The count axis's marks from 0 to at least top: steps of 1, 2 or 5
    // times a power of ten, at most MaxTicks of them above 0.
    static constexpr int MaxTicks = 5;
    static std::vector<std::int64_t> ticks(std::int64_t top);
    // Where the plot lies, and the bar of one series of a group in it; each
    // group's bars are centred on its slot, where its channel is written.
    QRectF plotArea() const;
    QRectF slotOf(std::size_t group) const;
    QRectF barOf(std::size_t group, int series) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Group> groups_;
};

class StatisticsWindow : public QWidget {
    Q_OBJECT
public:
    explicit StatisticsWindow(RunStatistics& statistics, QWidget* parent = nullptr);

    // Repaints at most this often, however fast the line runs.
    static constexpr int RefreshMs = 250;

    QLabel* figures() const { return figures_; }
    NoteChart* chart() const { return chart_; }
    // Shows the figures as they are now.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    RunStatistics& statistics_;
    QLabel* figures_ = nullptr;  // in a scroll area of fixed height: the window keeps its size
    NoteChart* chart_ = nullptr;
    QTimer refresh_;
};
