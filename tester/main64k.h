// The tester window: the controls, the handlers that hand the operator's
// input to the poll session, and the painting of what the session reports.
#pragma once

#include "link/frames.h"
#include "link/intervaltimer.h"
#include "link/pollsession.h"
#include "run/record.h"
#include "run/runstats.h"
#include "settings/settings.h"
#include "tester/widgets.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <map>
#include <memory>

class QCheckBox;
class QDateTime;
class QContextMenuEvent;
class QGroupBox;
class QMenu;
class QLabel;
class QLineEdit;
class QPushButton;
class HistoryWindow;
class StatisticsWindow;
class TraceHistory;

class MAIN64K : public QWidget {
    Q_OBJECT
public:
    // The port comes from outside so that tests can put a fake behind it;
    // without one the window makes its own on the serial ports of this
    // machine. programDir holds SETUP.INI and the COM<n> links.
    explicit MAIN64K(QString programDir, std::unique_ptr<CommPort> port = nullptr, QWidget* parent = nullptr);
    ~MAIN64K() override;

    // The display scheme the start-up found or the chooser gave; saved as
    // the first settings line.
    std::int16_t displayScheme() const { return DisplayScheme; }
    void setDisplayScheme(std::int16_t scheme) { DisplayScheme = scheme; }

    // Lifecycle.
    void Form_Load();
    void Form_Unload();
    void LoadSettings();
    // Returns where a damaged file's copy went; empty when none was made.
    QString SaveSettings();

    // What the session reports, painted.
    void PollTime_Timer();
    void ShowHostMessage(const SentMessage& sent);
    void ShowValidatorReply(const CheckedReply& checked);
    void LEDBlink_Timer();

    // Operator controls and tally.
    void Command1_Click();
    void Check4_Click();
    void Command2_Click();
    void CountStackedNote(int channel);
    void ValueChg();

    // For this run the port is this device, whatever the port number names:
    // the port box shows the stored number, cannot be edited, and names the
    // device in its tool tip. The stored number is kept.
    void usePortDevice(const QString& device);
    // The port is a device inside the program, called name: the port box
    // cannot be edited, and the title names it so that nobody takes it for
    // a real line.
    void useBuiltInDevice(const QString& name);

    // ---- which device a port number stands for ----
    // "Choose port...": binds the number in the port box to a device for
    // this user; the next start opens it.
    void choosePort();
    // Binds number to device in the user's bench file (empty: unbinds);
    // false with the reason when the file cannot be written.
    bool bindPort(int number, const QString& device, QString* error);
    // The device port number opens, as the user's bindings have it.
    QString portDevice(int number) const;
    // The bench file beside the settings file in use.
    QString benchPath() const;

    PollSession* session() { return session_.get(); }
    const PollSession* session() const { return session_.get(); }
    const QString& settingsPath() const { return SettingsPath; }
    // Rows of each trace pane.
    static constexpr int TraceRows = 16;
    // Channels 1 to 7 have a denomination the operator names.
    static constexpr int NamedChannels = 7;

    // Host lines written since the panes were last cleared, held at
    // TraceRows + 1 once they scroll.
    int traceRow() const { return TraceRow; }
    // Notes stacked per channel since the last reset; the counts' captions show them.
    const std::array<std::int64_t, frames::ChannelCount>& tally() const { return StackedCounts; }

    // ---- the record and the statistics ----
    // Records the session to path; false with the reason when the file
    // cannot be opened or written (polling goes on either way).
    bool startRecord(const QString& path, bool append, QString* error);
    void stopRecord();
    // "Start record...": asks for the file, and before overwriting one.
    void startRecordAsked();
    // Ctrl+R.
    void toggleRecord();
    // The record dialog: the file chosen, with ".csv" added when it has no
    // suffix; empty when cancelled. The folder is remembered for the next one.
    QString askRecordPath();
    // Where the record dialog opens: the last record's folder, else the documents folder.
    QString recordFolder() const;
    // "pollbench-YYYYMMDD-HHMMSS.csv"
    static QString suggestedRecordName(const QDateTime& when);
    SessionRecord& record() { return *record_; }
    // What happened since polling started or the totals were reset.
    RunStatistics& statistics() { return *runStats_; }
    const RunStatistics& statistics() const { return *runStats_; }
    // F2: the Statistics window, made on first use.
    StatisticsWindow* showStatistics();
    StatisticsWindow* statisticsWindow() const { return statistics_; }
    // F3: the Trace history window, made on first use; the history is kept
    // from the window's start whether it is shown or not.
    HistoryWindow* showHistory();
    HistoryWindow* historyWindow() const { return historyWindow_; }
    TraceHistory& history() { return *history_; }
    // The menu of the trace panes.
    QMenu* createTraceMenu(QWidget* parent);
    // The menu opened from the keyboard (Menu key, Shift+F10), at the panes;
    // the one already open when there is one.
    QMenu* showTraceMenu();
    // The rows of both panes as text, host line then reply line.
    QString traceText() const;
    bool saveTrace(const QString& path, QString* error) const;
    // The part of the window the panes cover.
    QRect traceArea() const;

    // ---- controls ----
    QLabel* Picture1 = nullptr;
    Label* Label2 = nullptr;
    QLineEdit* Text1 = nullptr;
    Label* Label3 = nullptr;
    QLineEdit* Text2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Check6 = nullptr;
    QGroupBox* Frame1 = nullptr;
    Label* Label24 = nullptr;
    std::array<QCheckBox*, frames::ChannelCount> Check1{};
    Line* Line1 = nullptr;
    Line* Line3 = nullptr;
    QPushButton* Check4 = nullptr;
    Label* Label1 = nullptr;
    Label* Label17 = nullptr;
    std::array<Label*, TraceRows> Label18{};
    std::array<Label*, TraceRows> Label20{};
    Line* Line4 = nullptr;
    std::array<Lamp*, 2> Shape2{};
    std::array<Label*, 2> Label12{};
    Label* Label14 = nullptr;
    Label* Label15 = nullptr;
    Label* Label16 = nullptr;
    Label* Label13 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QPushButton* Command2 = nullptr;
    Line* Line2 = nullptr;
    std::array<Label*, frames::ChannelCount> Label8{};
    std::array<Label*, frames::ChannelCount> Label9{};
    IntervalTimer* LEDBlink = nullptr;

    // Client-area size in pixels.
    static constexpr int ClientWidth = 740;
    static constexpr int ClientHeight = 479;

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createControls();
    void connectSession();
    void showPollMode();
    void showPortError(int number);
    void portFailed(int number);
    void replyChecked(const CheckedReply& checked);
    void showNoResponse();
    void clearTrace();
    void setUpRecord();
    void setUpHistory();
    void showRecordTitle();
    void loadPortBindings();
    void showPortDevice();
    int portNumberInBox() const;

    QString ProgramDir;
    QString SettingsPath;
    QString SettingsText;
    std::int16_t DisplayScheme = 0;
    std::int16_t TraceRow = 0;
    std::array<std::int64_t, frames::ChannelCount> StackedCounts{};
    QByteArray settingsAsFound_;  // a damaged settings file as loaded, kept as SETUP.INI.bak at close
    settings::SavedSettings currentSettings() const;
    void dropCopyIfNothingLost();
    std::unique_ptr<PollSession> session_;
    std::unique_ptr<RunStatistics> runStats_;
    std::unique_ptr<SessionRecord> record_;
    StatisticsWindow* statistics_ = nullptr;
    TraceHistory* history_ = nullptr;
    HistoryWindow* historyWindow_ = nullptr;
    QString title_;  // the window title when nothing is recording
    QPointer<QMenu> keyboardMenu_;
    bool unloaded_ = false;
    std::map<int, QString> bindings_;  // port number -> device, from the bench file
    QString benchProblem_;             // why the bench file could not be read
    bool reopenAtStart_ = false;       // a binding changed: the next start sets the port up anew
};

// Where a window's frame goes on a screen's available area: centred, or at
// its top-left corner when it does not fit.
QPoint placeOnScreen(QRect frame, const QRect& available);

// One pixel is 15 twips.
constexpr int px(int twips)
{
    return (twips + 7) / 15;
}
