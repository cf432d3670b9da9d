// What every part of the end-to-end bench shares: the clocks it measures
// with, the event loop it waits in, and the one table of figures it prints.
#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace bench {

// How long the bench waits for a child process to answer.
constexpr int WaitMs = 15000;

// Monotonic seconds; this process's processor seconds.
double nowSeconds();
double cpuSeconds();
// Processor seconds another process has used so far; negative when unknown.
double processCpuSeconds(qint64 pid);
// A field of /proc/<pid>/status in kB ("self" for this process), -1 when missing.
long statusKb(const QString& pid, const char* field);

// One line on standard error, so the table alone goes to standard output.
void progress(const char* text);
// Runs the event loop for ms, on a precise clock.
void spin(int ms);
double quantile(std::vector<double> v, double q);
// Seconds as milliseconds, with the unit.
QString ms(double seconds, int decimals = 3);

// ---- the result table ----
// A row with a verdict when a target is given; a section is a bold title row.
void row(const QString& figure, const QString& measured, const QString& target = QStringLiteral("-"),
         std::optional<bool> met = std::nullopt);
void section(const QString& title);
// Google Benchmark's JSON output as rows of CPU time per operation.
void readMicro(const QString& path);
void printTable();
bool allTargetsMet();

}  // namespace bench
