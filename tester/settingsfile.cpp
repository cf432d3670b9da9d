// The tester window's side of SETUP.INI.
#include "settings/rules.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QPushButton>
#include <QLineEdit>
#include <QMessageBox>

void MAIN64K::LoadSettings()
{
    const settings::Location where = settings::locateSettings(ProgramDir);
    SettingsPath = where.path;
    settingsAsFound_.clear();
    auto defaults = [this] {
        DisplayScheme = settings::FirstRun.displayScheme;
        session_->setPortNumber(settings::FirstRun.comPort);
        Text2->setText(settings::FirstRun.pollRate);
        for (int i = 0; i < frames::ChannelCount; ++i)
            setCheckValue(Check1[i], settings::FirstRun.channels[i]);
    };
    if (settings::inspectPath(where.readPath).kind == settings::PathKind::Missing) {
        defaults();
        return;
    }
    QByteArray bytes;
    try {
        bytes = settings::readFileBytes(where.readPath);
    } catch (const settings::FileError&) {
        // A file that cannot be used at all: the window starts as on a first
        // run, and the load tells the operator.
        defaults();
        throw;
    }
    SettingsText = settings::settingsText(bytes);
    settings::LoadedSettings s = settings::parseSettings(SettingsText);
    settings::applyDamagedFileRule(s);
    if (s.comPort)
        session_->setPortNumber(*s.comPort);
    if (s.pollRate)
        Text2->setText(*s.pollRate);
    for (int i = 0; i < frames::ChannelCount; ++i)
        if (s.channels[i])
            setCheckValue(Check1[i], *s.channels[i]);
    if (s.failedLine != 0) {
        // The close writes what was read of it; the operator's file goes
        // to SETUP.INI.bak first when that would lose anything. A file
        // beside an installed copy is not replaced, so it needs no copy.
        if (where.readPath == where.path)
            settingsAsFound_ = bytes;
        throw settings::SettingsError(s.failure.toStdString());
    }
}

settings::SavedSettings MAIN64K::currentSettings() const
{
    settings::SavedSettings s;
    s.displayScheme = DisplayScheme;
    s.comPort = session_->portNumber();
    s.pollRate = Text2->text();
    for (int i = 0; i < frames::ChannelCount; ++i)
        s.channels[i] = checkValue(Check1[i]);
    return s;
}

void MAIN64K::dropCopyIfNothingLost()
{
    // Decided on what the load took in, before the operator changes
    // anything: a file that gives back every line it had (a 17-line file,
    // a last line without CR LF) needs no copy.
    if (!settingsAsFound_.isEmpty() && !settings::saveLosesValues(settingsAsFound_, currentSettings()))
        settingsAsFound_.clear();
}

QString MAIN64K::SaveSettings()
{
    if (SettingsPath.isEmpty())
        SettingsPath = settings::locateSettings(ProgramDir).path;
    QString copy;
    if (!settingsAsFound_.isEmpty())
        copy = settings::keepDamagedCopy(SettingsPath, settingsAsFound_);
    settings::writeSettingsFile(SettingsPath, currentSettings());
    settingsAsFound_.clear();
    return copy;
}
