// Frame sequence discovery: which files of the numbered sequence are on disk, in frame order.
#include "driver/findSequenceFrames.h"

#include "driver/consolePrint.h"
#include "zqshared/zqDirListing.h"

#include <cstdio>

FrameSlots::FrameSlots(int32_t count) : m_count(count)
{
    // calloc leaves untouched slots on the kernel's zero pages, so a long sequence with few files stays small.
    if (count > 0)
        m_index.reset(static_cast<int32_t*>(std::calloc(size_t(count), sizeof(int32_t))));
}

void FrameSlots::place(int32_t k, const QString& fileName, const QString& frameText)
{
    m_files.push_back(FrameSlot{fileName, frameText});
    m_index.get()[k] = int32_t(m_files.size());
}

FrameSlot FrameSlots::at(int32_t k) const
{
    int32_t index = m_index.get()[k];
    return index == 0 ? FrameSlot{} : m_files[size_t(index - 1)];
}

QString frameTextOf(const QString& name, const QString& baseName, const QString& extension)
{
    if (!name.startsWith(baseName, Qt::CaseInsensitive))
        return QString();
    QString text = name.mid(baseName.size());
    int     keep = text.size() - extension.size();
    if (keep >= 0)
        text.truncate(keep);
    for (int separator = 0; separator < 2; ++separator)
        if (!text.isEmpty() && !text[0].isDigit() && text[0] != QLatin1Char('-'))
            text.remove(0, 1);
    return text.isNull() ? QStringLiteral("") : text;
}

int32_t placeSequenceFrames(const QStringList& names, const QString& baseName, const QString& extension,
                            const SequenceRange& range, FrameSlots& slots, QByteArray& console, int32_t* strays)
{
    int32_t found = 0;
    for (const QString& name : names)
    {
        QString frameText = frameTextOf(name, baseName, extension);
        if (frameText.isNull())
            continue;
        bool    ok = false;
        int32_t number = frameText.toInt(&ok, 10);
        if (!ok)
            continue;
        int32_t     d = int32_t(uint32_t(int64_t(number) - range.start + range.offset));
        const char* reason = nullptr;
        if (d < 0)
            reason = "<start";
        else if (d % range.step != 0)
            reason = "!=step";
        else if (d / range.step < range.frameCount)
        {
            slots.place(d / range.step, name, frameText);
            ++found;
            continue;
        }
        else
            reason = ">end";
        if (strays)
            ++*strays;
        char line[256];
        QByteArray latin = frameText.toLatin1();
        console += "Warning:  Not a frame of this sequene '" + latin + "' : ";
        std::snprintf(line, sizeof line, "%d%s (%d-%d,%d offs:%d) \n", number, reason, range.start, range.end,
                      range.step, range.offset);
        console += line;
    }
    return found;
}

int32_t findSequenceFrames(const Options& options, FrameSlots& slots, int32_t& strays)
{
    zqDirListing listing;
    listing.addEndsWithFilter(options.extension);
    listing.init(options.directoryText, false, false, false, false);
    consolePrint("Searching for '%s%s*%s'.\n", options.directoryText.toLatin1().constData(),
                 options.baseName.toLatin1().constData(), options.extension.toLatin1().constData());
    QStringList names;
    while (listing.nextFile())
        names.append(listing.fileName());

    QByteArray    console;
    SequenceRange range{options.start, options.end, options.step, options.offset, options.frameCount};
    strays = 0;
    int32_t       found = placeSequenceFrames(names, options.baseName, options.extension, range, slots, console, &strays);
    if (!options.quietStrays)
        consolePrint("%s", console.constData());
    consolePrint("%s", QStringLiteral("Found %1 of %2 frames\n").arg(found).arg(options.frameCount).toLatin1().constData());
    return found;
}
