// Entry point of zqExrCropRegion: checks the command line and runs the frame sequence.
#include "driver/consolePrint.h"
#include "driver/parseCommandLine.h"
#include "driver/parseNamedOptions.h"
#include "driver/runSequence.h"

#include <QCoreApplication>
#include <csignal>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

int main(int argc, char* argv[])
{
    // A full disk or a file-size limit must fail the write of one frame, not end the run; a worker that died must
    // not take the run with it when the run writes to it.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
#if defined(__GLIBC__)
    // zlib allocates and frees its compression state (about 270 KB) for every ZIPS scan line it writes. Keeping up
    // to 64 MiB of freed heap stops glibc from handing that memory back to the kernel after each line and faulting
    // it in, zero-filled, for the next one.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    Options      options;
    NamedOptions named = takeNamedOptions(arguments, options);
    if (named.help || named.version)
    {
        consolePrint("%s", named.help ? (bannerText() + usageText() + namedOptionsHelp()).constData()
                                      : "zqExrCropRegion " ZQ_VERSION "\n");
        return 0;
    }
    if (!named.error.isEmpty())
    {
        consolePrint("%s", named.error.constData());
        return 2;
    }
    if (arguments.size() < 6)
    {
        consolePrint("%s", (bannerText() + usageText()).constData());
        return -1;
    }
    QCoreApplication application(argc, argv);
    CommandLine      commandLine = parseCommandLine(arguments, options);
    if (!commandLine.run)
    {
        consolePrint("%s", commandLine.message.constData());
        return commandLine.exitCode;
    }
    return runSequence(commandLine.options);
}
