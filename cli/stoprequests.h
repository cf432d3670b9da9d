// A request to end an unattended run from outside (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, with SIGPIPE and SIGXFSZ ignored meanwhile; on
// Windows Ctrl+C, Ctrl+Break and the console closing), delivered on the
// event loop so the run can close its port and write its report.
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace cli {

class StopRequests : public QObject {
    Q_OBJECT
public:
    // One at a time: the handlers are the process's own.
    explicit StopRequests(QObject* parent = nullptr);
    ~StopRequests() override;

signals:
    // What asked: "SIGINT", "SIGTERM", "SIGHUP", "Ctrl+C", ...
    void requested(const QString& what);

private:
    QSocketNotifier* notifier_ = nullptr;
};

// For the window: a write past the file-size limit fails, and the record
// says so, instead of ending the program with its settings unsaved.
void ignoreFileSizeSignal();

}  // namespace cli
