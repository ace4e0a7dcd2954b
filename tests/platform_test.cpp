// The platform layer on tables: the string list and path splitting. (Temporary files, copies and listings are
// shown end to end by the cases: leftover-temp-files, write-faults, inplace-owner-acl-xattr, sequence-names.)
#include "zqshared/zqPath.h"
#include "zqshared/zqStringList.h"

#include <gtest/gtest.h>

namespace {

TEST(ZqStringList, UniqueAppendFindInsertRemove)
{
    _zqStringList list;
    for (const char* name : {"Diffuse", "R", "Diffuse", "G", "r"})
        list.append(name, true, true);
    EXPECT_EQ(list.items, (std::vector<std::string>{"Diffuse", "R", "G", "r"}));
    EXPECT_EQ(list.find("r", false), 3);
    EXPECT_EQ(list.find("diffuse", false), -1);
    EXPECT_EQ(list.find("diffuse", true), 0);
    list.removeAt(1);
    list.insert(0, "RG");
    EXPECT_EQ(list.items, (std::vector<std::string>{"RG", "Diffuse", "G", "r"}));
    list.append("G", false, false);
    EXPECT_EQ(list.count(), 5);
}

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
        EXPECT_EQ(zqGetDirName(c.path, '\\').toStdString(), c.dir) << c.path;
        EXPECT_EQ(zqGetFileName(c.path, '\\').toStdString(), c.file) << c.path;
    }
}

} // namespace
