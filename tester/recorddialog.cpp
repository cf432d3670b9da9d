// The file a record goes to: asked in the folder the last record went to
// (the documents folder the first time), under a name that says when.
#include "settings/benchfile.h"
#include "tester/main64k.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>

QString MAIN64K::suggestedRecordName(const QDateTime& when)
{
    return when.toString(QStringLiteral("'pollbench-'yyyyMMdd-HHmmss'.csv'"));
}

QString MAIN64K::recordFolder() const
{
    QString folder;
    try {
        folder = settings::readBenchFile(benchPath()).recordFolder;
    } catch (const std::exception&) {
        // An unreadable bench file: as on the first record.
    }
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return folder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString MAIN64K::askRecordPath()
{
    QFileDialog dialog(this, QStringLiteral("Start record"), recordFolder(),
                       QStringLiteral("Records (*.csv);;All files (*)"));
    dialog.setObjectName(QStringLiteral("RecordDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The dialog adds it before it asks about replacing a file.
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(suggestedRecordName(QDateTime::currentDateTime()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    QString path = dialog.selectedFiles().constFirst();
    // A dialog of the system's may not honour the default suffix; then the
    // file with it was not asked about.
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".csv");
        if (QFileInfo::exists(path)
            && QMessageBox::question(this, QStringLiteral("Start record"),
                                     QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                         .arg(QDir::toNativeSeparators(path)))
                   != QMessageBox::Yes)
            return {};
    }
    try {
        settings::rememberRecordFolder(benchPath(), QFileInfo(path).absolutePath());
    } catch (const std::exception&) {
        // Only the next dialog's folder is lost.
    }
    return path;
}
