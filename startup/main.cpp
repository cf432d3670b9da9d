#include "startup/startup.h"
#include "tester/main64k.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    nameProgram();
    auto window = MAIN_Form_Load(QCoreApplication::applicationDirPath());
    if (!window)
        return 0;
    return QApplication::exec();
}
