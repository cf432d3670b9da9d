// SETUP.INI: 23 lines of key prefix and value, read by position.
#pragma once

#include "files/pathrule.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>

namespace settings {

inline constexpr int LineCount = 23;
inline constexpr int ChannelLines = 13;

// Exact prefixes, in file order; the four of channels 10 to 13 are one wider.
extern const std::array<QLatin1StringView, LineCount> KeyPrefixes;

// A settings line that cannot be read, a value that cannot be converted,
// or a file that cannot be opened, read or written.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file itself failed (cannot be opened, read or written), as opposed to
// a damaged line: worth telling the operator.
class FileError : public SettingsError {
public:
    using SettingsError::SettingsError;
};

// The path leads to something other than a regular file (a FIFO, a device,
// a socket, a folder, a link that loops): it is neither read nor written.
class NotRegularFile : public FileError {
public:
    using FileError::FileError;
};

// program directory + separator + SETUP.INI
QString settingsPath(const QString& programDir);

// What stands at a path: the rule every file the program writes follows.
using files::inspectPath;
using files::PathKind;
using files::PathState;

// Where the settings live. A copy whose directory can be written keeps its
// file beside the program, as it always has. An installed copy in a
// directory the user cannot write uses the user's own file in userDir; until
// that exists, a readable file beside the program is where it starts from.
struct Location {
    QString path;      // the settings file: written at close, read at start
    QString readPath;  // read from: path, or the file beside the program
};
Location locateSettings(const QString& programDir, const QString& userDir);
// ... with the user's configuration folder for this program (the
// application name must be set first).
Location locateSettings(const QString& programDir);

// The file's bytes; throws NotRegularFile (nothing is opened then) or FileError.
QByteArray readFileBytes(const QString& path);

// File bytes as settings text. A file whose line ends were converted to LF
// or to CR (an editor, a version-control checkout) has no CR LF pair at all;
// its line ends are read as CR LF. Any other file is taken as it is.
QString settingsText(const QByteArray& bytes);

// readFileBytes, then settingsText.
QString readWholeFile(const QString& path);

// The value of the first line of settingsText; that line is removed.
// Throws SettingsError when the text has no such line.
QString NextSettingValue(QString& settingsText);

// What a settings text yields, line by line, up to the first failure. The
// lines read are taken off the front of the text.
struct LoadedSettings {
    std::optional<std::int16_t> comPort;
    std::optional<QString> pollRate;
    std::array<std::optional<int>, ChannelLines> channels;  // 0, 1 or 2
    int failedLine = 0;                                     // 1-based; 0 when all 23 were read
    QString failure;
};
LoadedSettings parseSettings(QString& settingsText);

// The display scheme the start-up takes from the first line's value.
// Throws SettingsError when that value cannot be read or converted.
std::int16_t firstValueAsScheme(QString settingsText);

struct SavedSettings {
    std::int16_t displayScheme = 1;
    std::int16_t comPort = 1;
    QString pollRate = QStringLiteral("100");
    std::array<int, ChannelLines> channels{1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0};
};
// A poll-rate text holding a CR LF (pasted into the box) is written up to
// it: the pair would end the line early and shift every line after it.
QByteArray settingsFileBytes(const SavedSettings& s);

// Replaces the file whole: the old one stays until the new one is complete.
// The folder is made when missing. Copies that earlier saves, killed before
// they were done, left beside the file under the replace's own names are
// removed once this save succeeds, when they are more than an hour old;
// nothing else is. Throws NotRegularFile when the path leads to anything
// but a regular file or nothing, FileError when it cannot be written.
void writeSettingsFile(const QString& path, const SavedSettings& s);

// Replaces path whole with bytes as writeSettingsFile does, for the other
// files kept beside the settings. Throws as writeSettingsFile.
void replaceWhole(const QString& path, const QByteArray& bytes);

// Whether the save after a load would drop anything the file held: it
// writes what the load took in (asLoaded), and the file (asFound) holds no
// line that this does not give back as it is. A file that ends early, or
// whose last line lacks its CR LF, loses nothing when the lines it has come
// back alike.
bool saveLosesValues(const QByteArray& asFound, const SavedSettings& asLoaded);

// A damaged file, as it was read, is kept beside path before a save replaces
// it: as path.bak, or path.bak.1, .2, ... when that is taken; an existing
// file is never replaced. Returns the name it went to. Throws as
// writeSettingsFile.
QString keepDamagedCopy(const QString& path, const QByteArray& asFound);
QString damagedCopyPath(const QString& path);

}  // namespace settings
