// SETUP.INI: 23 lines of key prefix and value, read by position.
#pragma once

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

// program directory + separator + SETUP.INI
QString settingsPath(const QString& programDir);

// The whole file as 8-bit text; throws FileError.
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
// Throws FileError.
void writeSettingsFile(const QString& path, const SavedSettings& s);

}  // namespace settings
