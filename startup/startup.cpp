#include "startup/startup.h"

#include "startup/colorsheme.h"
#include "settings/rules.h"
#include "tester/main64k.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>

namespace {

void tellOperator(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Pollbench"), text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("SettingsErrorBox"));
    box.exec();
}

}  // namespace

void nameProgram()
{
    // No organisation: the user's settings folder is then "pollbench" itself.
    QCoreApplication::setApplicationName(QStringLiteral("pollbench"));
    QCoreApplication::setOrganizationName(QString());
}

std::unique_ptr<MAIN64K> MAIN_Form_Load(const QString& programDir, std::unique_ptr<CommPort> port)
{
    const QString SettingsPath = settings::locateSettings(programDir).readPath;
    const QString shown = QDir::toNativeSeparators(SettingsPath);
    // 0 unset; 1 and 2 are the chooser's answers; a stored value is taken as it is.
    std::int16_t DisplayScheme = 0;

    // Only a regular file is read: a FIFO or a device could hold the start
    // for ever. A file that is there but cannot be used is the tester
    // window's to tell, once, when it loads; until then the scheme is unset.
    if (settings::inspectPath(SettingsPath).kind == settings::PathKind::Regular) {
        try {
            QString SettingsText = settings::readWholeFile(SettingsPath);
            if (settings::isSettingsText(SettingsText)) {
                try {
                    DisplayScheme = settings::firstValueAsScheme(SettingsText);
                } catch (const settings::SettingsError&) {
                    tellOperator(QStringLiteral("The first line of %1 holds no display scheme; please choose one.")
                                     .arg(shown));
                    DisplayScheme = 0;
                }
            } else {
                if (!QFile::remove(SettingsPath))
                    tellOperator(QStringLiteral("%1 is not a settings file and cannot be deleted.").arg(shown));
                DisplayScheme = 0;
            }
        } catch (const settings::FileError&) {
            DisplayScheme = 0;
        }
    } else {
        DisplayScheme = 0;
    }

    if (DisplayScheme == 0) {
        // Wait on the event loop for the answer instead of spinning on it.
        ColorSheme chooser;
        QEventLoop wait;
        bool answered = false;
        chooser.onAnswer = [&](int scheme) {
            DisplayScheme = std::int16_t(scheme);
            answered = true;
            wait.quit();
        };
        chooser.onClosed = [&] { wait.quit(); };
        chooser.show();
        chooser.activateWindow();
        chooser.Command1[0]->setFocus();
        if (DisplayScheme == 0)
            wait.exec();
        if (!answered)
            return nullptr;
    }

    auto window = std::make_unique<MAIN64K>(programDir, std::move(port));
    window->setDisplayScheme(DisplayScheme);
    window->Form_Load();
    window->show();
    return window;
}
