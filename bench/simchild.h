// The virtual validator as a child process on a pseudo-terminal, and the
// frame log it writes: the bench's view of the line from the other end.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <vector>

namespace bench {

struct LogFrame {
    double t;         // monotonic seconds
    char dir;         // 'H' host frame, 'V' validator write
    int control = 0;  // byte 2
    bool goodReply = false;
};

std::vector<LogFrame> readLog(const QString& path);

class Sim {
public:
    QProcess process;

    // Starts `program` with its link at `link`, logging frames to `log`;
    // true once it says it is ready.
    bool start(const QString& program, const QString& link, const QString& log);
    void stop();

private:
    QByteArray said_;
};

}  // namespace bench
