// The menu of the trace panes, and the Statistics window it opens.
#include "tester/main64k.h"

#include "tester/statistics.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>

StatisticsWindow* MAIN64K::showStatistics()
{
    if (!statistics_) {
        // Its own top-level window, closed with this one.
        statistics_ = new StatisticsWindow(*runStats_, this);
        statistics_->setWindowIcon(windowIcon());
    }
    statistics_->show();
    statistics_->raise();
    statistics_->activateWindow();
    return statistics_;
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
