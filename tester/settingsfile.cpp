// The tester window's side of SETUP.INI.
#include "settings/settings.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QPushButton>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

void MAIN64K::LoadSettings()
{
    SettingsPath = settings::settingsPath(ProgramDir);
    if (!QFileInfo(SettingsPath).isFile()) {
        DisplayScheme = 1;
        session_->setPortNumber(1);
        Text2->setText(QStringLiteral("100"));
        for (int i = 0; i < frames::ChannelCount; ++i)
            setCheckValue(Check1[i], i <= 6 ? 1 : 0);
        return;
    }
    SettingsText = settings::readWholeFile(SettingsPath);
    const settings::LoadedSettings s = settings::parseSettings(SettingsText);
    if (s.comPort)
        session_->setPortNumber(*s.comPort);
    if (s.pollRate)
        Text2->setText(*s.pollRate);
    for (int i = 0; i < frames::ChannelCount; ++i)
        if (s.channels[i])
            setCheckValue(Check1[i], *s.channels[i]);
    if (s.failedLine != 0)
        throw settings::SettingsError(s.failure.toStdString());
}

void MAIN64K::SaveSettings()
{
    if (SettingsPath.isEmpty())
        SettingsPath = settings::settingsPath(ProgramDir);
    settings::SavedSettings s;
    s.displayScheme = DisplayScheme;
    s.comPort = session_->portNumber();
    s.pollRate = Text2->text();
    for (int i = 0; i < frames::ChannelCount; ++i)
        s.channels[i] = checkValue(Check1[i]);
    settings::writeSettingsFile(SettingsPath, s);
}
