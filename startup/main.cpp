#include "cli/console.h"
#include "cli/headless.h"
#include "cli/options.h"
#include "startup/startup.h"
#include "tester/main64k.h"

#include <QApplication>
#include <QMessageBox>

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

    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    nameProgram();
    const cli::Options options = cli::parseCommandLine(QCoreApplication::arguments());
    auto window = MAIN_Form_Load(QCoreApplication::applicationDirPath());
    if (!window)
        return 0;
    if (!options.device.isEmpty())
        window->usePortDevice(options.device);
    QString why;
    // A record that cannot be opened is told in a box; polling goes on.
    if (!options.record.isEmpty() && !window->startRecord(options.record, true, &why))
        QMessageBox::warning(window.get(), QStringLiteral("Pollbench"), why);
    return QApplication::exec();
}
