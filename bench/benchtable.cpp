#include "bench/benchtable.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {

double nowSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

long statusKb(const QString& pid, const char* field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLong();
    return -1;
}

void progress(const char* text)
{
    std::fprintf(stderr, "bench: %s\n", text);
    std::fflush(stderr);
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    const double pos = q * double(v.size() - 1);
    const auto lo = std::size_t(std::floor(pos));
    const auto hi = std::min(v.size() - 1, lo + 1);
    return v[lo] + (v[hi] - v[lo]) * (pos - double(lo));
}

// ---- the result table ----

namespace {

struct Row {
    QString figure, measured, target, verdict;
};
std::vector<Row> rows;
bool allMet = true;

}  // namespace

void row(const QString& figure, const QString& measured, const QString& target, std::optional<bool> met)
{
    QString verdict;
    if (met) {
        verdict = *met ? QStringLiteral("met") : QStringLiteral("MISSED");
        allMet = allMet && *met;
    }
    rows.push_back({figure, measured, target, verdict});
}

void section(const QString& title)
{
    rows.push_back({title, {}, {}, {}});
}

QString ms(double seconds, int decimals)
{
    return QString::number(seconds * 1e3, 'f', decimals) + QStringLiteral(" ms");
}

void printTable()
{
    int w[3] = {6, 8, 6};
    for (const Row& r : rows) {
        w[0] = std::max(w[0], int(r.figure.size()));
        w[1] = std::max(w[1], int(r.measured.size()));
        w[2] = std::max(w[2], int(r.target.size()));
    }
    const auto line = [&](const QString& a, const QString& b, const QString& c, const QString& d) {
        std::printf("%s\n", qPrintable((QStringLiteral("| ") + a.leftJustified(w[0]) + QStringLiteral(" | ")
                                        + b.rightJustified(w[1]) + QStringLiteral(" | ") + c.leftJustified(w[2])
                                        + QStringLiteral(" | ") + d.leftJustified(6) + QStringLiteral(" |"))
                                           .trimmed()));
    };
    line(QStringLiteral("Figure"), QStringLiteral("Measured"), QStringLiteral("Target"), QStringLiteral("Result"));
    line(QString(w[0], QLatin1Char('-')), QString(w[1], QLatin1Char('-')), QString(w[2], QLatin1Char('-')),
         QString(6, QLatin1Char('-')));
    for (const Row& r : rows) {
        if (r.measured.isEmpty() && r.target.isEmpty())
            line(QStringLiteral("**") + r.figure + QStringLiteral("**"), {}, {}, {});
        else
            line(r.figure, r.measured, r.target, r.verdict);
    }
}

// From /proc/<pid>/stat.
double processCpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Past the command name in parentheses: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

void readMicro(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        row(QStringLiteral("micro-benchmarks"), QStringLiteral("no results in ") + path);
        return;
    }
    section(QStringLiteral("Micro-benchmarks (CPU time per operation)"));
    const QJsonArray list = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("benchmarks")).toArray();
    for (const QJsonValue& v : list) {
        const QJsonObject b = v.toObject();
        double ns = b.value(QStringLiteral("cpu_time")).toDouble();
        const QString unit = b.value(QStringLiteral("time_unit")).toString();
        if (unit == QLatin1String("us"))
            ns *= 1e3;
        else if (unit == QLatin1String("ms"))
            ns *= 1e6;
        const QString text = ns >= 10000 ? QStringLiteral("%1 us").arg(ns / 1000, 0, 'f', 1)
                                         : QStringLiteral("%1 ns").arg(ns, 0, 'f', 1);
        row(b.value(QStringLiteral("name")).toString(), text);
    }
}

bool allTargetsMet()
{
    return allMet;
}

}  // namespace bench
