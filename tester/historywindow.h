// "Trace history": the whole history of the line in a table that follows
// the newest row, or holds still while the operator reads; with find, a
// filter by direction and event, copy and save as CSV.
#pragma once

#include <QTimer>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class TraceHistory;

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    explicit HistoryWindow(TraceHistory& history, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    QTableView* view() const { return view_; }
    QPushButton* pauseButton() const { return pause_; }
    QLineEdit* findBox() const { return find_; }
    QComboBox* directionFilter() const { return direction_; }
    QComboBox* eventFilter() const { return event_; }
    QLabel* status() const { return status_; }

    // Whether new rows scroll into sight.
    bool following() const;
    // Selects the next row (or the previous) holding the find box's text;
    // false when there is none.
    bool findNext(bool forward = true);
    // The selected rows, or all rows shown when none is, as CSV lines in the
    // record's format after its header.
    QString rowsAsCsv(bool selectedOnly) const;
    bool saveCsv(const QString& path, QString* error) const;
    // "Save as CSV...": asks for the file.
    void saveAsked();

private:
    static constexpr int StatusMs = 1000;

    void applyFilter();
    void showStatus();
    int sourceRow(int viewRow) const;

    TraceHistory& history_;
    QSortFilterProxyModel* filter_ = nullptr;
    QTableView* view_ = nullptr;
    QPushButton* pause_ = nullptr;
    QLineEdit* find_ = nullptr;
    QComboBox* direction_ = nullptr;
    QComboBox* event_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer statusTimer_;
    bool atBottom_ = true;
};
