// Loading and closing the tester window.
#include "startup/settings.h"
#include "tester/main64k.h"

#include <QCheckBox>
#include <QPushButton>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QDir>
#include <QFileInfo>

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
    // Steps 3 to 6 of the load, shared with the recovery path.
    auto settle = [this] {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QSize size = screen->size();
            if (size.width() == 640 && size.height() == 480)
                setWindowState(windowState() | Qt::WindowMaximized);
        }
        setCheckValue(Check6, 1);
        Text1->setText(QString::number(ComPort));
        ReopenPort = true;
    };

    try {
        LoadSettings();
        settle();
        PollMode = 0;
        Command1_Click();
        return;
    } catch (const settings::SettingsError& e) {
        // A damaged file is expected and silent; a file that exists but cannot
        // be read at all is worth a word.
        if (QFileInfo(SettingsPath).isFile() && !QFileInfo(SettingsPath).isReadable())
            tellOperator(this, QStringLiteral("The settings file %1 cannot be read; the window starts without it.")
                                   .arg(QDir::toNativeSeparators(SettingsPath)));
        Q_UNUSED(e);
    }

    try {
        for (int i = 7; i <= 12; ++i)
            setCheckValue(Check1[i], 0);
        settle();
        ValueChg();
        PollMode = 0;
        Command1_Click();
    } catch (const std::exception& e) {
        tellOperator(this, QStringLiteral("The window could not be set up: %1").arg(QString::fromStdString(e.what())));
    }
}

void MAIN64K::Form_Unload()
{
    if (MSComm1->portOpen())
        MSComm1->close();
    try {
        SaveSettings();
    } catch (const std::exception& e) {
        tellOperator(this, QStringLiteral("The settings could not be saved; %1 keeps the settings it had.\n\n%2")
                               .arg(QDir::toNativeSeparators(SettingsPath), QString::fromStdString(e.what())));
    }
}
