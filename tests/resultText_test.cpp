// Result texts, job ID texts and host-name rules.
#include "driver/imagePluginResultText.h"
#include "driver/jobIdText.h"
#include "driver/localHostName.h"

#include <gtest/gtest.h>

namespace {

struct ResultCase
{
    int32_t     code;
    const char* name;
    const char* detail;
    const char* expected;
};

TEST(ImagePluginResultText, EveryFormOfMessage)
{
    const ResultCase cases[] = {
        // detail form
        {1, "", "", ""},
        {1, "", "kept", " kept"},
        {23, "", "", ""},
        {23, "x", "why", " why"},
        // named form
        {2, "", "", ": File not found!"},
        {2, "", "gone", ": File not found! gone"},
        {3, "", "copy failed", ": File failed to load! copy failed"},
        {4, "f.exr", "", "f.exr: Unsupported Format!"},
        {5, "", "", ": Plugin is not compatible with this Zarquen version!"},
        {6, "", "", ": Unhandled C Error!"},
        {7, "", "std::bad_alloc", ": Memory allocation failed! std::bad_alloc"},
        {12, "", "", ": Wrong filesize!"},
        {13, "", "", ": No image dimensions!"},
        {14, "", "Cannot read image file", ": Data Error! Cannot read image file"},
        // special forms
        {8, "", "", "Plugin '' is missing!"},
        {8, "exr", "d", "Plugin 'exr' is missing! d"},
        {9, "a.exr", "", "Unable to load 'a.exr'!"},
        // plain form: the name is not used
        {15, "ignored", "", "Image dimensions larger than buffer."},
        {16, "", "", "Require full load."},
        {17, "", "", "No plugin for this file type."},
        {18, "", "", "Python Error."},
        {19, "", "", "File size too small."},
        {20, "", "", "Debug<>Release compile mismatch."},
        {21, "", "", "Placeholder file."},
        {22, "", "", "Failed to save file."},
        {22, "", "disk full", "Failed to save file. disk full"},
        {24, "", "", "Memory buffer to small."},
        {25, "", "", "No Image output found."},
        {26, "", "", "Absolute paths required."},
        {27, "", "", "Load end of file only."},
        {29, "", "", "Layer count mismatch."},
        // codes without a name
        {0, "", "", "Unknown Plugin Error #0 ."},
        {10, "", "", "Unknown Plugin Error #10 ."},
        {11, "n", "d", "Unknown Plugin Error #11 n. d"},
        {28, "", "", "Unknown Plugin Error #28 ."},
        {30, "", "", "Unknown Plugin Error #30 ."},
        {-3, "", "", "Unknown Plugin Error #-3 ."},
        // percent signs are plain text
        {14, "", "bad %s path", ": Data Error! bad %s path"},
    };
    for (const ResultCase& c : cases)
        EXPECT_EQ(imagePluginResultText(c.code, QString::fromLatin1(c.name), QString::fromLatin1(c.detail)).toStdString(),
                  c.expected)
            << "code " << c.code;
}

TEST(JobIdText, AlphabetsAndBitRanges)
{
    const struct
    {
        int64_t     jobId;
        const char* expected;
    } cases[] = {
        {0, "{AAA}"},
        {1, "{AAAa}"},
        {24, "{AAAz}"},
        {25, "{AAAba}"},
        {255, "{AAAlq}"},
        {int64_t(10000) << 24, "{AAB}"},
        {int64_t(36 * 10000) << 24, "{ABA}"},
        {int64_t(1296 * 10000) << 24, "{BAA}"},
        {(int64_t(10000) << 24) | 0x00ffff00, "{AAB}"},           // bits 8 to 23 are not used
        {int64_t(0x7f00000000000000), "{AAA}"},                   // nor bits 56 to 63
        {-1, "{HPRlq}"}, // y = 0xffffffff / 10000 = 429496: digits 7, 14, 16
    };
    for (const auto& c : cases)
        EXPECT_STREQ(jobIdText(c.jobId).c_str(), c.expected) << "job ID " << c.jobId;
}

int fixedRandom()
{
    return 4711;
}

TEST(LocalHostName, CuttingAndFallback)
{
    const struct
    {
        const char* system;
        const char* expected;
    } cases[] = {
        {"render01.studio.local", "render01"},
        {"render01", "render01"},
        {".a.b", ".a.b"},
        {"a.", "a"},
        {"", "NoHostNameSet_4711"},
        {"LocalHost", "NoHostNameSet_4711"},
        {"localhost.localdomain", "NoHostNameSet_4711"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hostNameFromSystemName(QString::fromLatin1(c.system), fixedRandom).toStdString(), c.expected)
            << c.system;
    EXPECT_FALSE(localHostName().isEmpty());
}

} // namespace
