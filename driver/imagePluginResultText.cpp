// The console message of a conversion result code.
#include "driver/imagePluginResultText.h"

namespace {

enum class Form
{
    Detail,
    Named,
    Plain,
    Unknown
};

struct ResultText
{
    Form        form;
    const char* text;
};

ResultText resultText(int32_t code)
{
    switch (code)
    {
    case Ok:
    case OkWithDetail: return {Form::Detail, ""};
    case FileNotFound: return {Form::Named, ": File not found!"};
    case FileFailedToLoad: return {Form::Named, ": File failed to load!"};
    case UnsupportedFormat: return {Form::Named, ": Unsupported Format!"};
    case PluginNotCompatible: return {Form::Named, ": Plugin is not compatible with this Zarquen version!"};
    case UnhandledCError: return {Form::Named, ": Unhandled C Error!"};
    case MemoryAllocationFailed: return {Form::Named, ": Memory allocation failed!"};
    case WrongFileSize: return {Form::Named, ": Wrong filesize!"};
    case NoImageDimensions: return {Form::Named, ": No image dimensions!"};
    case DataError: return {Form::Named, ": Data Error!"};
    case DimensionsLargerThanBuffer: return {Form::Plain, "Image dimensions larger than buffer."};
    case RequireFullLoad: return {Form::Plain, "Require full load."};
    case NoPluginForFileType: return {Form::Plain, "No plugin for this file type."};
    case PythonError: return {Form::Plain, "Python Error."};
    case FileSizeTooSmall: return {Form::Plain, "File size too small."};
    case DebugReleaseMismatch: return {Form::Plain, "Debug<>Release compile mismatch."};
    case PlaceholderFile: return {Form::Plain, "Placeholder file."};
    case FailedToSaveFile: return {Form::Plain, "Failed to save file."};
    case MemoryBufferTooSmall: return {Form::Plain, "Memory buffer to small."};
    case NoImageOutputFound: return {Form::Plain, "No Image output found."};
    case AbsolutePathsRequired: return {Form::Plain, "Absolute paths required."};
    case LoadEndOfFileOnly: return {Form::Plain, "Load end of file only."};
    case LayerCountMismatch: return {Form::Plain, "Layer count mismatch."};
    default: return {Form::Unknown, ""};
    }
}

} // namespace

QString imagePluginResultText(int32_t code, const QString& name, QString detail)
{
    if (!detail.isEmpty())
        detail.prepend(QLatin1Char(' '));
    if (code == PluginMissing)
        return QStringLiteral("Plugin '") + name + QStringLiteral("' is missing!") + detail;
    if (code == UnableToLoad)
        return QStringLiteral("Unable to load '") + name + QStringLiteral("'!") + detail;
    ResultText result = resultText(code);
    switch (result.form)
    {
    case Form::Detail: return detail;
    case Form::Named: return name + QLatin1String(result.text) + detail;
    case Form::Plain: return QLatin1String(result.text) + detail;
    case Form::Unknown: break;
    }
    return QStringLiteral("Unknown Plugin Error #") + QString::number(code) + QLatin1Char(' ') + name +
           QLatin1Char('.') + detail;
}
