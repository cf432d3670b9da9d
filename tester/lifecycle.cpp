// Loading and closing the tester window.
#include "settings/settings.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QPushButton>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QDir>

#include <cmath>

namespace {

void tellOperator(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Pollbench"), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("SettingsErrorBox"));
    box.exec();
}

}  // namespace

void MAIN64K::Form_Load()
{
    // What follows the settings read, shared with the recovery path.
    auto settle = [this] {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QSize size = screen->size();
            if (size.width() == 640 && size.height() == 480)
                setWindowState(windowState() | Qt::WindowMaximized);
        }
        setCheckValue(Check6, 1);
        loadPortBindings();
        Text1->setText(QString::number(session_->portNumber()));
        session_->requestReopen();
    };

    try {
        try {
            LoadSettings();
        } catch (const settings::NotRegularFile& e) {
            // Defaults are in force; this is the one word about it.
            tellOperator(this, QStringLiteral("%1. It is left as it is: the window starts with the default settings, "
                                              "and they are not saved when it closes.")
                                   .arg(QString::fromStdString(e.what())));
        } catch (const settings::FileError& e) {
            tellOperator(this, QStringLiteral("The settings file %1 cannot be read: the window starts with the default "
                                              "settings. When it closes, they replace the file if it can be "
                                              "written.\n\n%2")
                                   .arg(QDir::toNativeSeparators(SettingsPath), QString::fromStdString(e.what())));
        }
        settle();
        session_->setMode(PollMode::Normal);
        showPollMode();
        return;
    } catch (const std::exception&) {
        // A damaged line: the recovery below, silently.
    }

    try {
        // The load has applied what a damaged file keeps.
        settle();
        ValueChg();
        dropCopyIfNothingLost();
        session_->setMode(PollMode::Normal);
        showPollMode();
    } catch (const std::exception& e) {
        tellOperator(this, QStringLiteral("The window could not be set up: %1").arg(QString::fromStdString(e.what())));
    }
}

void MAIN64K::Form_Unload()
{
    // The close never fails and the settings are saved even when releasing
    // the port does not work out.
    try {
        session_->closePort();
    } catch (const std::exception& e) {
        tellOperator(this, QStringLiteral("The serial port could not be closed.\n\n%1").arg(QString::fromStdString(e.what())));
    }
    // After the port: the record keeps polling's end too.
    stopRecord();
    try {
        const QString copy = SaveSettings();
        // SETUP.INI.bak is where the README sends the operator; any other
        // name is told.
        if (!copy.isEmpty() && copy != settings::damagedCopyPath(SettingsPath))
            tellOperator(this, QStringLiteral("The settings file could not be read whole. It is kept as it was "
                                              "found in %1, since %2 already exists; the settings were saved.")
                                   .arg(QDir::toNativeSeparators(copy),
                                        QDir::toNativeSeparators(settings::damagedCopyPath(SettingsPath))));
    } catch (const settings::NotRegularFile& e) {
        tellOperator(this, QStringLiteral("The settings were not saved: %1. It is left as it is.")
                               .arg(QString::fromStdString(e.what())));
    } catch (const std::exception& e) {
        tellOperator(this, QStringLiteral("The settings could not be saved; %1 keeps the settings it had.\n\n%2")
                               .arg(QDir::toNativeSeparators(SettingsPath), QString::fromStdString(e.what())));
    }
}
