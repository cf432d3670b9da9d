// The session record from the window: start and stop, Ctrl+R and F2, and
// the title that says a record is running.
#include "tester/main64k.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QShortcut>

void MAIN64K::setUpRecord()
{
    title_ = windowTitle();
    record_ = std::make_unique<SessionRecord>(*session_);
    connect(record_.get(), &SessionRecord::recordingChanged, this, [this] { showRecordTitle(); });
    const auto tell = [this](const QString& message) {
        // Not modal from inside the poll: polling goes on while the box is up.
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Pollbench"), message, QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("RecordErrorBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
    };
    connect(record_.get(), &SessionRecord::failed, this, tell);
    connect(record_.get(), &SessionRecord::summaryFailed, this, tell);
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
