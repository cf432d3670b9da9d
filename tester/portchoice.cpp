// Which device a port number stands for: the user's bindings, the port box's
// tool tip that names the device, and "Choose port...".
#include "link/qtport.h"
#include "settings/benchfile.h"
#include "settings/decimal.h"
#include "settings/settings.h"
#include "tester/main64k.h"
#include "tester/portpicker.h"

#include <QDir>
#include <QLineEdit>
#include <QMessageBox>

namespace {

QtPort* qtPort(PollSession& session)
{
    return dynamic_cast<QtPort*>(&session.port());
}

}  // namespace

QString MAIN64K::benchPath() const
{
    const QString settingsFile = SettingsPath.isEmpty() ? settings::locateSettings(ProgramDir).path : SettingsPath;
    return settings::benchFilePath(settingsFile);
}

void MAIN64K::loadPortBindings()
{
    // Unread, the numbers name their usual devices; the picker says why.
    bindings_ = settings::readPortBindings(benchPath(), &benchProblem_);
    if (QtPort* port = qtPort(*session_))
        port->setPortBindings(bindings_);
    showPortDevice();
}

int MAIN64K::portNumberInBox() const
{
    const auto typed = parseDecimal(Text1->text());
    if (!typed)
        return 0;
    const auto number = roundToInt16(*typed);
    return number ? *number : 0;
}

QString MAIN64K::portDevice(int number) const
{
    return portDeviceName(number, ProgramDir, bindings_);
}

void MAIN64K::showPortDevice()
{
    const QtPort* port = qtPort(*session_);
    if (!port || !port->deviceOverride().isEmpty())
        return;  // a device given for the run is named already
    const int number = portNumberInBox();
    const QString device = portDevice(number);
    if (device.isEmpty())
        Text1->setToolTip(QStringLiteral("Port number: no serial port has this number"));
    else if (bindings_.count(number))
        Text1->setToolTip(QStringLiteral("Port %1: %2 (chosen with Choose port...)")
                              .arg(number)
                              .arg(QDir::toNativeSeparators(device)));
    else
        Text1->setToolTip(QStringLiteral("Port %1: %2").arg(number).arg(QDir::toNativeSeparators(device)));
}

bool MAIN64K::bindPort(int number, const QString& device, QString* error)
{
    try {
        settings::bindPort(benchPath(), number, device);
    } catch (const std::exception& e) {
        if (error)
            *error = QString::fromStdString(e.what());
        return false;
    }
    loadPortBindings();
    // Taken at the next start, as a changed port number is.
    reopenAtStart_ = true;
    return true;
}

void MAIN64K::choosePort()
{
    int number = portNumberInBox();
    if (number < 1)
        number = session_->portNumber();
    if (number < 1) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Pollbench"),
                        QStringLiteral("Type a port number of 1 or more in the port box first."), QMessageBox::Ok,
                        this);
        box.exec();
        return;
    }
    loadPortBindings();
    const auto it = bindings_.find(number);
    const QString bound = it == bindings_.end() ? QString() : it->second;
    if (!benchProblem_.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Pollbench"),
                        QStringLiteral("The port choices kept for you cannot be read, so every port number names "
                                       "its usual device.\n\n%1")
                            .arg(benchProblem_),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("PortChoiceErrorBox"));
        box.exec();
    }
    PortPicker picker(number, bound, portDeviceName(number, ProgramDir), this);
    if (picker.exec() != QDialog::Accepted)
        return;
    QString error;
    if (!bindPort(number, picker.chosenDevice(), &error)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Pollbench"),
                        QStringLiteral("The port choice could not be kept.\n\n%1").arg(error), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("PortChoiceErrorBox"));
        box.exec();
    }
}
