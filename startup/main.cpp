#include "cli/console.h"
#include "cli/headless.h"
#include "cli/options.h"
#include "cli/stoprequests.h"
#include "cli/portchoice.h"
#include "startup/startup.h"
#include "tester/main64k.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    // The command line decides which application the program needs: only
    // the window loads the GUI and wants a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (cli::parseCommandLine(arguments).kind != cli::RunKind::Window) {
        cli::useParentConsole();
        QCoreApplication app(argc, argv);
        nameProgram();  // an unattended run reads the settings the window would
        // Read again from the application, which has the arguments as the
        // system gave them (wide characters on Windows).
        return cli::runWithoutWindow(cli::parseCommandLine(QCoreApplication::arguments()));
    }

    cli::ignoreFileSizeSignal();
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    nameProgram();
    const cli::Options options = cli::parseCommandLine(QCoreApplication::arguments());
    const bool builtIn = cli::isBuiltInDevice(options.device);
    QString why;
    std::unique_ptr<CommPort> port;
    if (builtIn) {
        // A script that cannot be used is the command line's error, told
        // before any window comes up.
        port = cli::makePort(options.device, QCoreApplication::applicationDirPath(), &why);
        if (!port) {
            cli::useParentConsole();
            cli::tell(why);
            return cli::ExitUsage;
        }
    }
    auto window = MAIN_Form_Load(QCoreApplication::applicationDirPath(), std::move(port));
    if (!window)
        return 0;
    if (builtIn)
        window->useBuiltInDevice(cli::BuiltInDeviceName);
    else if (!options.device.isEmpty())
        window->usePortDevice(options.device);
    // A record that cannot be opened is told in a box; polling goes on.
    if (!options.record.isEmpty() && !window->startRecord(options.record, true, &why))
        QMessageBox::warning(window.get(), QStringLiteral("Pollbench"), why);
    if (options.startPoll) {
        // As the operator's press, once the window is on the screen.
        MAIN64K* shown = window.get();
        QTimer::singleShot(0, shown, [shown] { shown->Check4->click(); });
    }
    return QApplication::exec();
}
