// Lists a folder of 100,000 files the way the FileList does (read, stat,
// sort by name), against `ls -f` (no sort, no stat) of the same folder.
//   list_directory [FILE_COUNT]

#include "directory_listing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    if (!dir.isValid() || count <= 0)
        return 1;
    const QByteArray base = QFile::encodeName(dir.path());
    for (int i = 0; i < count; ++i) {
        // Mixed case and widths so the name sort has work to do.
        const QByteArray name = base + "/" + (i % 2 ? "File_" : "file_") +
                                QByteArray::number((i * 7919) % count) + ".dat";
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0)
            return 1;
        ::close(fd);
    }
    std::printf("%d files in %s\n", count, base.constData());

    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        bool ok = false;
        const auto records = zapfer::ListDirectory(dir.path(), false, 0, {}, &ok);
        const double listMs = timer.nsecsElapsed() / 1e6;
        if (!ok || records.size() != size_t(count))
            return 1;

        timer.restart();
        QProcess ls;
        ls.setStandardOutputFile(QStringLiteral("/dev/null"));
        ls.start(QStringLiteral("ls"), {QStringLiteral("-f"), dir.path()});
        if (!ls.waitForFinished(60000) || ls.exitCode() != 0)
            return 1;
        const double lsMs = timer.nsecsElapsed() / 1e6;
        std::printf("round %d: ListDirectory sorted %8.1f ms   ls -f %8.1f ms   ratio %.2f\n",
                    round + 1, listMs, lsMs, listMs / lsMs);
    }
    return 0;
}
