// The named farm options (--name or --name=value), taken out of the command line before the positional arguments.
#include "driver/parseNamedOptions.h"

#include "driver/threadCount.h"


namespace {

/// How an option takes its value.
enum class Value
{
    None,     ///< a flag: no value allowed
    Required, ///< --name=value with a value that is not empty
    Optional, ///< --name or --name=value with a value that is not empty
};

struct OptionRule
{
    const char* name;
    Value       value;
    const char* valueText; ///< how the value is shown in the help text
    const char* help;
};

const OptionRule kOptions[] = {
    {"help", Value::None, "", "Print the banner, the usage text and this list of options, and exit with 0."},
    {"version", Value::None, "", "Print \"zqExrCropRegion " ZQ_VERSION "\" and exit with 0."},
    {"report", Value::Required, "=FILE", "Write FILE as JSON Lines: one object per frame slot when the slot ends, then one summary object."},
    {"progress", Value::Optional, "[=TEMPLATE]",
     "After each slot's result line print a line made from TEMPLATE: %d is the percentage of slots finished, %% a percent sign; the default is \"PROGRESS: %d%%\"."},
    {"strict", Value::None, "", "Exit with 1 when any frame ended with a result other than done, missing frames included."},
    {"threads", Value::Required, "=N|auto",
     "Use N threads (1 to 256) in the OpenEXR library instead of 4; auto uses the number of CPUs this process may run on, no more than its control group's CPU quota."},
    {"memory", Value::Required, "=SIZE",
     "Keep decoded pixels within SIZE bytes (a number with K, M or G for powers of 1024; at least 16M) instead of 1G; a larger frame is cropped in bands of lines."},
    {"verify", Value::None, "",
     "Read every rewritten file back and compare every sample before it replaces anything; a difference is a failed save and the previous file stays."},
    {"dry-run", Value::None, "",
     "Read and decide every frame and encode every rewrite, but write, copy, rename and remove nothing on disk; a frame that would be written or copied ends \"done (dry run)\"."},
    {"summary", Value::None, "",
     "Print one line before \"All Done\": the frames by what happened to them, the megabytes before and after, and the seconds."},
    {"quiet-strays", Value::None, "", "Do not print a warning for each file of the folder that is not a frame of this run."},
    {"missing-ok", Value::None, "", "With --strict, frames with no file do not set exit code 1."},
};

const OptionRule* findRule(const QString& name)
{
    for (const OptionRule& rule : kOptions)
        if (name == QLatin1String(rule.name))
            return &rule;
    return nullptr;
}

// Stores one option's value; the reason when the value is bad.
QString apply(const OptionRule& rule, const QString& value, NamedOptions& named, Options& options)
{
    QString name = QLatin1String(rule.name);
    if (name == QLatin1String("help"))
        named.help = true;
    else if (name == QLatin1String("version"))
        named.version = true;
    else if (name == QLatin1String("strict"))
        options.strict = true;
    else if (name == QLatin1String("verify"))
        options.verify = true;
    else if (name == QLatin1String("dry-run"))
        options.dryRun = true;
    else if (name == QLatin1String("summary"))
        options.summary = true;
    else if (name == QLatin1String("quiet-strays"))
        options.quietStrays = true;
    else if (name == QLatin1String("missing-ok"))
        options.missingOk = true;
    else if (name == QLatin1String("report"))
        options.reportPath = value;
    else if (name == QLatin1String("progress"))
    {
        QString text = value.isNull() ? QStringLiteral("PROGRESS: %d%%") : value;
        if (!text.contains(QLatin1String("%d")))
            return QStringLiteral("the template needs %d");
        options.progressTemplate = text;
    }
    else if (name == QLatin1String("threads"))
    {
        bool ok = false;
        int  threads = value == QLatin1String("auto") ? autoThreadCount() : value.toInt(&ok, 10);
        if (value != QLatin1String("auto") && (!ok || threads < 1 || threads > 256))
            return QStringLiteral("give a number from 1 to 256 or auto");
        options.threads = threads;
    }
    else if (name == QLatin1String("memory"))
    {
        std::optional<int64_t> bytes = parseMemorySize(value);
        if (!bytes)
            return QStringLiteral("give a size of at least 16M, as 512M or 2G");
        options.memoryBudget = *bytes;
    }
    return QString();
}

} // namespace

std::optional<int64_t> parseMemorySize(const QString& text)
{
    static const struct
    {
        QChar   suffix;
        int64_t unit;
    } kUnits[] = {{QLatin1Char('K'), int64_t(1) << 10}, {QLatin1Char('M'), int64_t(1) << 20}, {QLatin1Char('G'), int64_t(1) << 30}};
    QString digits = text;
    int64_t unit = 1;
    for (const auto& candidate : kUnits)
        if (text.endsWith(candidate.suffix, Qt::CaseInsensitive))
        {
            digits.chop(1);
            unit = candidate.unit;
        }
    bool    ok = false;
    qint64  count = digits.toLongLong(&ok, 10);
    // Up to 1 TiB: a budget beyond any machine's memory would only hide a typing error.
    if (!ok || digits.startsWith(QLatin1Char('+')) || count <= 0 || count > (int64_t(1) << 40) / unit)
        return std::nullopt;
    int64_t bytes = count * unit;
    if (bytes < kSmallestMemoryBudget)
        return std::nullopt;
    return bytes;
}

NamedOptions takeNamedOptions(QStringList& arguments, Options& options)
{
    NamedOptions named;
    QStringList  positional;
    for (const QString& argument : arguments)
    {
        int               equals = argument.indexOf(QLatin1Char('='));
        QString           name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        const OptionRule* rule = argument.startsWith(QLatin1String("--")) ? findRule(name) : nullptr;
        if (!rule)
        {
            positional.append(argument);
            continue;
        }
        QString value = equals < 0 ? QString() : argument.mid(equals + 1);
        QString reason;
        if (rule->value == Value::None && equals >= 0)
            reason = QStringLiteral("takes no value");
        else if (rule->value == Value::Required && value.isEmpty())
            reason = QStringLiteral("needs a value, as --%1=VALUE").arg(name);
        else if (rule->value == Value::Optional && equals >= 0 && value.isEmpty())
            reason = QStringLiteral("needs a value after '='");
        else
            reason = apply(*rule, value, named, options);
        if (!reason.isEmpty() && named.error.isEmpty())
            named.error = "Error: Option --" + name.toLatin1() + ": " + reason.toLatin1() + ".\n";
    }
    arguments = positional;
    return named;
}

QByteArray namedOptionsHelp()
{
    QByteArray text = "Options (anywhere on the line):\n";
    for (const OptionRule& rule : kOptions)
        text += (QByteArray("  --") + rule.name + rule.valueText).leftJustified(25, ' ') + rule.help + "\n";
    return text + "\n";
}
