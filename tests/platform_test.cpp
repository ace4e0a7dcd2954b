// The platform layer: fixed-capacity strings, the string list, paths, listing, file copy and safe replacement.
#include "support/exrFixtures.h"
#include "zqshared/zqDirListing.h"
#include "zqshared/zqFile.h"
#include "zqshared/zqPath.h"
#include "zqshared/zqString8.h"
#include "zqshared/zqStringList.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

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

TEST(ZqDirListing, ListsFilesEndingWithTheFilterInAnyCase)
{
    zqtest::TempDir dir;
    for (const char* name : {"a.exr", "b.EXR", "c.exr.txt", ".d.exr.x.zqtmp", "e.Exr"})
        zqtest::writeBytes(dir.file(name), "x");
    mkdir(dir.file("sub.exr").c_str(), 0755);
    zqDirListing listing;
    listing.addEndsWithFilter(".exr");
    listing.init(QString::fromStdString(dir.path()), false, false, false, false);
    std::vector<std::string> names;
    while (listing.nextFile())
        names.push_back(listing.fileName().toStdString());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.exr", "b.EXR", "e.Exr"}));

    zqDirListing missing;
    missing.init(QString::fromStdString(dir.file("nowhere/")), false, false, false, false);
    EXPECT_FALSE(missing.nextFile());
}

TEST(ZqFile, CopyKeepsBytesAndTimeAndReplacesWhole)
{
    zqtest::TempDir dir;
    std::string     source = dir.file("src.exr"), target = dir.file("dst.exr");
    std::string     bytes(3 << 20, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    zqtest::writeBytes(source, bytes);
    struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    utimes(source.c_str(), old);
    zqtest::writeBytes(target, "previous longer content that must disappear entirely");
    chmod(target.c_str(), 0640);

    EXPECT_EQ(zqCopyFile(QString::fromStdString(source), QString::fromStdString(target)).toStdString(), "");
    EXPECT_EQ(zqtest::readBytes(target), bytes);
    EXPECT_EQ(zqtest::modificationTimeNs(target), 1000000000LL * 1000000000LL);
    struct stat info;
    stat(target.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"dst.exr", "src.exr"}));
}

TEST(ZqFile, FailedCopyNamesBothPathsAndLeavesNothing)
{
    zqtest::TempDir dir;
    std::string     source = dir.file("src.exr");
    zqtest::writeBytes(source, "data");
    QString error = zqCopyFile(QString::fromStdString(source), QString::fromStdString(dir.file("no/dir/x.exr")));
    EXPECT_TRUE(error.contains(QString::fromStdString(source)));
    EXPECT_TRUE(error.contains(QString::fromStdString(dir.file("no/dir/x.exr"))));
    EXPECT_TRUE(error.contains("No such file or directory"));
    EXPECT_FALSE(error.contains("setting file time"));

    mkdir(dir.file("target.exr").c_str(), 0755); // a directory in the way: the rename fails
    error = zqCopyFile(QString::fromStdString(source), QString::fromStdString(dir.file("target.exr")));
    EXPECT_TRUE(error.contains(QString::fromStdString(dir.file("target.exr")))) << error.toStdString();
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"src.exr", "target.exr"}));

    error = zqCopyFile(QString::fromStdString(dir.file("missing.exr")), QString::fromStdString(dir.file("t.exr")));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"src.exr", "target.exr"}));
}

TEST(ZqTempFileBeside, CommitReplacesAndDiscardRemoves)
{
    zqtest::TempDir dir;
    std::string     target = dir.file("shot.0001.exr");
    zqtest::writeBytes(target, "old");
    chmod(target.c_str(), 0600);
    {
        zqTempFileBeside temp(QString::fromStdString(target));
        std::string      name = temp.path().toStdString().substr(dir.path().size());
        EXPECT_EQ(name.rfind(".shot.0001.exr.", 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 6), ".zqtmp");
        zqtest::writeBytes(temp.path().toStdString(), "new");
        EXPECT_TRUE(temp.commit());
    }
    EXPECT_EQ(zqtest::readBytes(target), "new");
    struct stat info;
    stat(target.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    {
        zqTempFileBeside temp(QString::fromStdString(target));
        zqtest::writeBytes(temp.path().toStdString(), "abandoned");
    }
    EXPECT_EQ(dir.list(), std::vector<std::string>{"shot.0001.exr"});
    EXPECT_EQ(zqtest::readBytes(target), "new");
}

} // namespace
