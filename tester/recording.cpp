// The session record and the statistics from the window: the trace panes'
// menu, Ctrl+R, F2, and the title that says a record is running.
#include "tester/main64k.h"

#include "link/runstats.h"
#include "tester/statistics.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QShortcut>

void MAIN64K::setUpRecord()
{
    title_ = windowTitle();
    record_ = std::make_unique<SessionRecord>(*session_);
    connect(record_.get(), &SessionRecord::recordingChanged, this, [this] { showRecordTitle(); });
    connect(record_.get(), &SessionRecord::failed, this, [this](const QString& message) {
        // Not modal from inside the poll: polling goes on while the box is up.
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Pollbench"), message, QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("RecordErrorBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
    });
    auto* record = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    connect(record, &QShortcut::activated, this, [this] { toggleRecord(); });
    auto* statistics = new QShortcut(QKeySequence(Qt::Key_F2), this);
    connect(statistics, &QShortcut::activated, this, [this] { showStatistics(); });
}

void MAIN64K::showRecordTitle()
{
    if (record_->isRecording())
        setWindowTitle(QStringLiteral("%1 - recording %2").arg(title_, QDir::toNativeSeparators(record_->path())));
    else
        setWindowTitle(title_);
}

bool MAIN64K::startRecord(const QString& path, bool append, QString* error)
{
    return record_->start(path, append, error);
}

void MAIN64K::stopRecord()
{
    if (record_)
        record_->stop();
}

void MAIN64K::startRecordAsked()
{
    // The dialog asks before an existing file is replaced; a yes truncates it.
    const QString path = askRecordPath();
    if (path.isEmpty())
        return;
    QString error;
    if (!startRecord(path, false, &error)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Pollbench"),
                        QStringLiteral("The record could not be started.\n\n%1").arg(error), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("RecordErrorBox"));
        box.exec();
    }
}

void MAIN64K::toggleRecord()
{
    if (record_->isRecording())
        stopRecord();
    else
        startRecordAsked();
}

StatisticsWindow* MAIN64K::showStatistics()
{
    if (!statistics_) {
        // Its own top-level window, closed with this one.
        statistics_ = new StatisticsWindow(session_->statistics(), this);
        statistics_->setWindowIcon(windowIcon());
    }
    statistics_->show();
    statistics_->raise();
    statistics_->activateWindow();
    return statistics_;
}

QRect MAIN64K::traceArea() const
{
    QRect area;
    for (int k = 0; k < 16; ++k)
        area = area.united(Label18[k]->geometry()).united(Label20[k]->geometry());
    return area;
}

QString MAIN64K::traceText() const
{
    QString text;
    for (int k = 0; k < 16; ++k) {
        const QString host = Label18[k]->caption();
        const QString reply = Label20[k]->caption();
        if (host.isEmpty() && reply.isEmpty())
            continue;
        text += (host.leftJustified(32) + reply).trimmed() + QLatin1Char('\n');
    }
    return text;
}

bool MAIN64K::saveTrace(const QString& path, QString* error) const
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text) || f.write(traceText().toUtf8()) < 0 || !f.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

QMenu* MAIN64K::createTraceMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("TraceMenu"));
    const bool recording = record_->isRecording();
    QAction* start = menu->addAction(QStringLiteral("Start record..."), this, [this] { startRecordAsked(); });
    start->setEnabled(!recording);
    QAction* stop = menu->addAction(QStringLiteral("Stop record"), this, [this] { stopRecord(); });
    stop->setEnabled(recording);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Copy trace"), this, [this] { QApplication::clipboard()->setText(traceText()); });
    menu->addAction(QStringLiteral("Save trace as..."), this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save trace as"), ProgramDir,
                                                          QStringLiteral("Text (*.txt);;All files (*)"));
        QString error;
        if (!path.isEmpty() && !saveTrace(path, &error)) {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Pollbench"),
                            QStringLiteral("The trace could not be saved.\n\n%1").arg(error), QMessageBox::Ok, this);
            box.exec();
        }
    });
    menu->addSeparator();
    QAction* history = menu->addAction(QStringLiteral("Trace history"), this, [this] { showHistory(); });
    history->setShortcut(QKeySequence(Qt::Key_F3));
    QAction* statistics = menu->addAction(QStringLiteral("Statistics"), this, [this] { showStatistics(); });
    statistics->setShortcut(QKeySequence(Qt::Key_F2));
    menu->addSeparator();
    QAction* choose = menu->addAction(QStringLiteral("Choose port..."), this, [this] { choosePort(); });
    // A device given for the run stands for every number.
    choose->setEnabled(Text1->isEnabled());
    start->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    return menu;
}

void MAIN64K::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Keyboard) {
        showTraceMenu();
        return;
    }
    if (!traceArea().contains(event->pos())) {
        QWidget::contextMenuEvent(event);
        return;
    }
    QMenu* menu = createTraceMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
