// BENCH.INI: what one user chose at the bench and SETUP.INI has no line
// for: which device each port number stands for, and the folder the last
// record went to. It lives beside the SETUP.INI in use, so an installed copy
// keeps it in the user's own settings folder.
#pragma once

#include <QString>
#include <QStringList>

#include <map>

namespace settings {

// Port number -> device ("/dev/ttyUSB0", "COM7").
using PortBindings = std::map<int, QString>;

struct BenchChoices {
    PortBindings ports;
    QString recordFolder;
    // Lines this program does not read (another version's, a hand edit),
    // written back as they were.
    QStringList otherLines;
};

// The bench file beside the given settings file.
QString benchFilePath(const QString& settingsFilePath);

// A missing file is no choices at all. Throws NotRegularFile or FileError
// as readFileBytes.
BenchChoices readBenchFile(const QString& path);
// The port bindings of the file at path. One that cannot be read (not a
// regular file, an I/O error) binds nothing, so every number names its usual
// device; why is then in problem, else problem is cleared.
PortBindings readPortBindings(const QString& path, QString* problem);
// Text of the file: one "key = value" line each, ports in number order.
QByteArray benchFileBytes(const BenchChoices& choices);
// Replaces the file whole; throws as replaceWhole.
void writeBenchFile(const QString& path, const BenchChoices& choices);

// Read, change, write: another window of the program may have bound a port
// since this one read the file. An empty device forgets the binding.
void bindPort(const QString& path, int number, const QString& device);
void rememberRecordFolder(const QString& path, const QString& folder);

}  // namespace settings
