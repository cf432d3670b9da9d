// A small program the reliability tests run as a separate process:
//   save-loop PATH PROGRESS  saves the two test settings to PATH in turn,
//                            forever, through the tester's save; PROGRESS
//                            (8 bytes, shared) holds 2n+1 while save n runs
//                            and 2n+2 once it is done; prints "saving" after
//                            the first save
//   save-once PATH 1|2 LIMIT saves one of them with the file size limited to
//                            LIMIT bytes; exit 0 saved, 3 refused
//   hold DEVICE              opens DEVICE as a serial port and keeps it until
//                            standard input ends; prints "held" or "failed"
#include "durability.h"
#include "settings/settings.h"

#include <QSerialPort>
#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

int saveLoop(const QString& path, const char* progressPath)
{
    const int fd = ::open(progressPath, O_RDWR | O_CREAT, 0600);
    if (fd < 0 || ::ftruncate(fd, sizeof(std::uint64_t)) != 0)
        return 2;
    void* map = ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED)
        return 2;
    auto* progress = static_cast<volatile std::uint64_t*>(map);
    const settings::SavedSettings both[2] = {firstSettings(), secondSettings()};
    for (std::uint64_t n = 0;; ++n) {
        *progress = 2 * n + 1;
        try {
            settings::writeSettingsFile(path, both[n % 2]);
        } catch (const settings::FileError& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 3;
        }
        *progress = 2 * n + 2;
        if (n == 0) {
            std::puts("saving");
            std::fflush(stdout);
        }
    }
}

int saveOnce(const QString& path, int which, long limit)
{
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = rlim_t(limit);
    if (setrlimit(RLIMIT_FSIZE, &r) != 0)
        return 2;
    try {
        settings::writeSettingsFile(path, which == 1 ? firstSettings() : secondSettings());
    } catch (const settings::FileError& e) {
        std::printf("refused: %s\n", e.what());
        return 3;
    }
    return 0;
}

int hold(const QString& device)
{
    QSerialPort port(device);
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("failed %s\n", port.errorString().toLocal8Bit().constData());
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) {
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "save-loop") == 0)
        return saveLoop(QString::fromLocal8Bit(argv[2]), argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "save-once") == 0)
        return saveOnce(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), std::atol(argv[4]));
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0)
        return hold(QString::fromLocal8Bit(argv[2]));
    std::fprintf(stderr, "usage: reliability_helper save-loop PATH PROGRESS | save-once PATH 1|2 LIMIT | hold DEVICE\n");
    return 2;
}
