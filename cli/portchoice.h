// Which port a run polls: a serial device, or with --device sim the virtual
// validator built into the program.
#pragma once

#include "link/port.h"

#include <QString>

#include <map>
#include <memory>

namespace cli {

// "sim" and "sim:SCRIPT" name the built-in validator; a device file called
// sim is reached as ./sim.
inline const QString BuiltInDevice = QStringLiteral("sim");
bool isBuiltInDevice(const QString& device);

// What the window's title and a run's report call the built-in validator.
inline const QString BuiltInDeviceName = QStringLiteral("virtual validator");

// The port for --device (empty: the port number's device, through the
// user's bindings). Null, with why, when the built-in validator's script
// cannot be read or is no script.
std::unique_ptr<CommPort> makePort(const QString& device, const QString& programDir, QString* why,
                                   const std::map<int, QString>& bound = {});

}  // namespace cli
