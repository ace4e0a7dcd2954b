// Parsing and checking of the command line, with the banner and usage texts.
#include "driver/parseCommandLine.h"

#include "zqshared/zqPath.h"

namespace {

const char kVersion[] = " " ZQ_VERSION;
const char kCopyright[] = " (c) Zarquen render-farm suite";

// The argument at a 1-based position behind the program name and any root option; empty when absent.
struct Arguments
{
    QStringList list;
    int         skip = 0;

    bool    has(int position) const { return skip + position - 1 < list.size(); }
    QString at(int position) const { return has(position) ? list[skip + position - 1] : QString(); }
};

// A number error: its text, then the argument between apostrophes, and exit code -1.
CommandLine numberFailure(const char* text, const QString& argument)
{
    CommandLine result;
    result.message = QByteArray(text) + "'" + argument.toLatin1() + "'\n\n";
    result.exitCode = -1;
    return result;
}

CommandLine plainFailure(const char* text, int exitCode)
{
    CommandLine result;
    result.message = QByteArray(text);
    result.exitCode = exitCode;
    return result;
}

bool parseNumber(const QString& text, int32_t& value)
{
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok;
}

} // namespace

QByteArray bannerText()
{
    QByteArray dashes(64, '-');
    return dashes + "\n" + "zqExrCropRegion " + kVersion + "      " + kCopyright + "\n" + dashes + "\n";
}

QByteArray usageText()
{
    return "\nUsage:\n\n"
           "  zqExrCropRegion BaseFileName Extension Start End Step Offset [exrHalfOnly] [NoOverwrite] [unCrop] "
           "[AbortIfCropped] [metadataSceneName] [metadataJobID]\n"
           "  exrHalfOnly and NoOverwrite can be set to \"true\" to enable it or \"false\".\n"
           "  unCrop and AbortIfCropped have to be set, but are ignored\n"
           "  metadataSceneName and metadataJobID is written as scene name metadata into the EXR.\n"
           "\n\n";
}

bool isTrueFlag(const QString& text)
{
    return text == QLatin1String("1") || text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

CommandLine parseCommandLine(const QStringList& arguments, const Options& namedOptions)
{
    if (arguments.size() < 6)
    {
        CommandLine usage;
        usage.message = bannerText() + usageText();
        usage.exitCode = -1;
        return usage;
    }
    Arguments args{arguments};
    if (arguments[0].compare(QLatin1String("-zqRoot"), Qt::CaseInsensitive) == 0)
        args.skip = 2;

    Options    options = namedOptions;
    QString    baseFileName = args.at(1);
    options.extension = args.at(2);
    if (!options.extension.endsWith(QLatin1String(".exr"), Qt::CaseInsensitive) &&
        !options.extension.endsWith(QLatin1String(".cxr"), Qt::CaseInsensitive))
        return plainFailure("No .exr sequence. Exit.", 0);

    struct NumberArgument
    {
        int         position;
        int32_t*    value;
        const char* error;
    };
    const NumberArgument numbers[] = {
        {3, &options.start, "Error: Start Frame is not a number.\n"},
        {4, &options.end, "Error: End Frame is not a number.\n"},
        {5, &options.step, "Error: Frame Step is not a number.\n"},
        {6, &options.offset, "Error: Frame Offset is not a number.\n"},
    };
    for (const NumberArgument& number : numbers)
    {
        if (!parseNumber(args.at(number.position), *number.value))
            return numberFailure(number.error, args.at(number.position));
        if (number.value == &options.step && options.step <= 0)
            return numberFailure("Error: Frame Step is wrong.\n", args.at(number.position));
    }

    if (args.has(7))
        options.exrHalfOnly = isTrueFlag(args.at(7));
    if (options.exrHalfOnly && options.extension.compare(QLatin1String(".exr"), Qt::CaseInsensitive) != 0)
        return plainFailure("Error: Not an .exr extension.\n", 0);
    if (args.has(8))
        options.noOverwrite = isTrueFlag(args.at(8));
    if (args.has(11))
        options.sceneName = args.at(11);
    if (args.has(12))
        options.jobId = args.at(12).toLongLong(nullptr, 10);

    // 32-bit wrap-around arithmetic, computed in 64 bits so that no signed overflow occurs.
    int32_t span = int32_t(uint32_t(int64_t(options.end) - int64_t(options.start)));
    options.frameCount = int32_t(uint32_t(int64_t(span / options.step) + 1));
    if (options.frameCount <= 0)
        return plainFailure("Error: Sequence start/end/step error.\n", -1);

    options.directoryText = zqGetDirName(baseFileName);
    options.baseName = zqGetFileName(baseFileName);

    CommandLine result;
    result.run = true;
    result.options = options;
    return result;
}
