// Console lines and failure texts of one frame's conversion.
#include "frame/FrameJob.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

void printMessage(const FrameJob& job, const QString& message)
{
    if (!job.verbose)
        return;
    // The message is the format on purpose: the tool's messages spell a percent sign as "%%".
    QByteArray format = message.toLatin1();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int length = std::snprintf(nullptr, 0, format.constData());
    std::vector<char> text(size_t(length > 0 ? length : 0) + 1);
    std::snprintf(text.data(), text.size(), format.constData());
#pragma GCC diagnostic pop
    printText(job, "    " + QByteArray(text.data(), length > 0 ? length : 0) + "\n");
}

void printText(const FrameJob& job, const QByteArray& text)
{
    if (job.console)
        job.console(text);
}

ImagePluginResult failWith(FrameJob& job, ImagePluginResult code, const std::exception& error)
{
    // A failed allocation says all there is to say; its exception's text ("std::bad_alloc") adds nothing.
    job.detail = code == MemoryAllocationFailed ? QString() : QString::fromUtf8(error.what());
    return code;
}

ImagePluginResult readFailureCode(const std::exception& error)
{
    // The library passes on a failed allocation in one of its threads as an exception of its own with that text.
    bool memory = dynamic_cast<const std::bad_alloc*>(&error) || std::strcmp(error.what(), "std::bad_alloc") == 0 ||
                  std::strcmp(error.what(), "bad allocation") == 0;
    return memory ? MemoryAllocationFailed : DataError;
}
