// The program as the test user runs it: the same start-up as pollbench,
// from the directory this copy sits in, with the chooser answered (first
// button) and every box closed and counted; then the window is closed as
// the operator would close it. Prints what happened:
//   chooser 0|1
//   box <text>        one line per box, line breaks as " | "
//   boxes N
#include "chooser.h"
#include "modal.h"
#include "startup/startup.h"
#include "tester/main64k.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    nameProgram();
    ModalCloser closer;
    ChooserDriver chooser(0);
    auto window = MAIN_Form_Load(QCoreApplication::applicationDirPath());
    if (!window)
        return 1;
    window->close();
    std::printf("chooser %d\n", chooser.facts.shown ? 1 : 0);
    for (const QString& text : closer.texts)
        std::printf("box %s\n", qPrintable(QString(text).replace(QLatin1Char('\n'), QStringLiteral(" | "))));
    std::printf("boxes %d\n", closer.count());
    return 0;
}
