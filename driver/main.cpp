// Entry point of zqExrCropRegion: checks the command line and runs the frame sequence.
#include "driver/consolePrint.h"
#include "driver/parseCommandLine.h"
#include "driver/runSequence.h"

#include <QCoreApplication>
#include <csignal>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

int main(int argc, char* argv[])
{
    if (argc < 7)
    {
        consolePrint("%s", (bannerText() + usageText()).constData());
        return -1;
    }
    // A full disk or a file-size limit must fail the write of one frame, not end the run.
    std::signal(SIGXFSZ, SIG_IGN);
#if defined(__GLIBC__)
    // zlib allocates and frees its compression state (about 270 KB) for every ZIPS scan line it writes. Keeping up
    // to 64 MiB of freed heap stops glibc from handing that memory back to the kernel after each line and faulting
    // it in, zero-filled, for the next one.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    QCoreApplication application(argc, argv);
    QStringList      arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    CommandLine commandLine = parseCommandLine(arguments);
    if (!commandLine.run)
    {
        consolePrint("%s", commandLine.message.constData());
        return commandLine.exitCode;
    }
    return runSequence(commandLine.options);
}
