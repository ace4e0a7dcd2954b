// The machine-readable report of a run (--report): one JSON object per frame slot as it ends, then a summary.
#include "driver/frameReport.h"

#include "zqshared/zqSystem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonValue boxValue(const std::optional<Imath::Box2i>& box)
{
    if (!box)
        return QJsonValue::Null;
    return QJsonArray{box->min.x, box->min.y, box->max.x, box->max.y};
}

template <typename T>
QJsonValue optionalValue(const std::optional<T>& value)
{
    return value ? QJsonValue(double(*value)) : QJsonValue::Null;
}

int64_t area(const Imath::Box2i& box)
{
    return (int64_t(box.max.x) - box.min.x + 1) * (int64_t(box.max.y) - box.min.y + 1);
}

// The part count of the file at the output path after the slot: what was written, or the input that was copied or
// kept there; none when nothing is there.
std::optional<int32_t> outputParts(const SlotRecord& record)
{
    const FrameFacts& facts = record.outcome.facts;
    if (facts.action == FrameAction::Rewritten)
        return facts.outputParts;
    bool inputThere = facts.action == FrameAction::Copied || (record.output == record.input && !record.missing);
    return inputThere && record.bytesOut ? facts.parts : std::nullopt;
}

} // namespace

const char* slotAction(const SlotRecord& record)
{
    if (record.missing)
        return "missing";
    if (record.outcome.result != Ok)
        return "failed";
    switch (record.outcome.facts.action)
    {
    case FrameAction::Rewritten: return "rewritten";
    case FrameAction::Copied: return "copied";
    case FrameAction::None: break;
    }
    return "unchanged";
}

bool FrameReport::open(const QString& path, bool dryRun, QString& error)
{
    m_dryRun = dryRun;
    m_file.setFileName(path);
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return true;
    error = zqOpenFailureText(m_file.errorString());
    return false;
}

void FrameReport::writeLine(QJsonObject object)
{
    if (m_dryRun)
        object.insert(QStringLiteral("dryRun"), true);
    m_file.write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    m_file.flush();
}

int64_t FrameReport::count(const char* action) const
{
    auto found = m_actions.find(action);
    return found == m_actions.end() ? 0 : found->second;
}

void FrameReport::addSlot(const SlotRecord& record)
{
    const char* action = slotAction(record);
    ++m_frames;
    ++m_actions[action];
    m_bytesIn += record.bytesIn.value_or(0);
    m_bytesOut += record.bytesOut.value_or(0);
    if (!isOpen())
        return;
    const FrameFacts& facts = record.outcome.facts;
    bool              rewritten = facts.action == FrameAction::Rewritten && record.outcome.result == Ok;
    bool cropped = rewritten && facts.dataWindow && facts.outputDataWindow && area(*facts.outputDataWindow) < area(*facts.dataWindow);
    QJsonObject object{
        {"frame", double(record.frame)},
        {"input", record.missing ? QJsonValue::Null : QJsonValue(record.input)},
        {"output", record.missing ? QJsonValue::Null : QJsonValue(record.output)},
        {"action", action},
        {"code", int(record.outcome.result)},
        {"result", record.resultText},
        {"cropped", cropped},
        {"dataWindow", boxValue(facts.dataWindow)},
        {"outputDataWindow", rewritten ? boxValue(facts.outputDataWindow) : QJsonValue::Null},
        {"parts", optionalValue(facts.parts)},
        {"outputParts", optionalValue(outputParts(record))},
        {"channels", optionalValue(facts.channels)},
        {"bytesIn", optionalValue(record.bytesIn)},
        {"bytesOut", optionalValue(record.bytesOut)},
        {"seconds", record.seconds},
    };
    writeLine(object);
}

QByteArray FrameReport::summaryLine(double seconds) const
{
    QString share = m_bytesIn > 0 ? QString::number(double(m_bytesOut) * 100.0 / double(m_bytesIn), 'f', 1)
                                  : QStringLiteral("-");
    return QStringLiteral("Summary: %1 frames: %2 rewritten, %3 copied, %4 unchanged, %5 missing, %6 failed; "
                          "%7 MB -> %8 MB (%9 %) in %10 s\n")
        .arg(m_frames)
        .arg(count("rewritten"))
        .arg(count("copied"))
        .arg(count("unchanged"))
        .arg(count("missing"))
        .arg(count("failed"))
        .arg(QString::number(double(m_bytesIn) / 1e6, 'f', 1), QString::number(double(m_bytesOut) / 1e6, 'f', 1),
             share, QString::number(seconds, 'f', 1))
        .toLatin1();
}

void FrameReport::finish(double seconds, int exitCode, int64_t strays)
{
    if (!isOpen())
        return;
    writeLine(QJsonObject{{"summary", true},
                          {"frames", double(m_frames)},
                          {"rewritten", double(count("rewritten"))},
                          {"copied", double(count("copied"))},
                          {"unchanged", double(count("unchanged"))},
                          {"missing", double(count("missing"))},
                          {"failed", double(count("failed"))},
                          {"strays", double(strays)},
                          {"bytesIn", double(m_bytesIn)},
                          {"bytesOut", double(m_bytesOut)},
                          {"seconds", seconds},
                          {"exitCode", exitCode}});
    m_file.close();
}
