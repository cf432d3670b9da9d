// Saves the whole X screen as a PNG: the Windows program's window under
// Wine is no window of ours to grab from inside.
//   screen_grab OUT.png       (DISPLAY names the screen)
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: screen_grab OUT.png\n", stderr);
        return 2;
    }
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "screen_grab: cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
