// The platform layer on a table: path splitting. (Temporary files, copies and listings are
// shown end to end by the cases: leftover-temp-files, write-faults, inplace-owner-acl-xattr, sequence-names.)
#include "zqshared/zqPath.h"

#include <gtest/gtest.h>

namespace {

TEST(ZqPath, SplitsAtTheLastSeparatorOfEitherKind)
{
    const struct
    {
        const char* path;
        const char* dir;
        const char* file;
    } cases[] = {
        {"/render/shot.", "/render/", "shot."},
        {"D:\\render\\shot.", "D:\\render\\", "shot."},
        {"/mnt/a\\b/shot", "/mnt/a\\b/", "shot"},
        {"C:\\x/y\\shot", "C:\\x/y\\", "shot"},
        {"shot.", "", "shot."},
        {"/render/", "/render/", ""},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(zqGetDirName(c.path).toStdString(), c.dir) << c.path;
        EXPECT_EQ(zqGetFileName(c.path).toStdString(), c.file) << c.path;
    }
}

} // namespace
