// Saves the X screen, or the part X Y W H of it, as a PNG: the Windows
// program's window under Wine is no window of ours to grab from inside.
//   screen_grab OUT.png [X Y W H]      (DISPLAY names the screen)
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 6) {
        std::fputs("usage: screen_grab OUT.png [X Y W H]\n", stderr);
        return 2;
    }
    int part[4] = {0, 0, -1, -1};
    for (int i = 0; argc == 6 && i < 4; ++i)
        part[i] = std::atoi(argv[2 + i]);
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, part[0], part[1], part[2], part[3]);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "screen_grab: cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
