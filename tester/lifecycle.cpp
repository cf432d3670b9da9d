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
        Text1->setText(QString::number(session_->portNumber()));
        session_->requestReopen();
    };

    try {
        LoadSettings();
        settle();
        session_->setMode(PollMode::Normal);
        showPollMode();
        return;
    } catch (const settings::FileError& e) {
        // A file that is there but cannot be read is worth a word; the
        // window then starts as for a damaged file.
        tellOperator(this, QStringLiteral("The settings file %1 cannot be read; the window starts without its "
                                              "settings and writes the file anew when it closes.\n\n%2")
                               .arg(QDir::toNativeSeparators(SettingsPath), QString::fromStdString(e.what())));
    } catch (const std::exception&) {
        // A damaged line: the recovery below, silently.
    }

    try {
        for (int i = 7; i < frames::ChannelCount; ++i)
            setCheckValue(Check1[i], 0);
        settle();
        ValueChg();
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
    try {
        SaveSettings();
    } catch (const std::exception& e) {
        tellOperator(this, QStringLiteral("The settings could not be saved; %1 keeps the settings it had.\n\n%2")
                               .arg(QDir::toNativeSeparators(SettingsPath), QString::fromStdString(e.what())));
    }
}
