// The platform layer on tables: the string list, path splitting, and the temporary file that replaces a target.
#include "zqshared/zqFile.h"
#include "zqshared/zqPath.h"
#include "zqshared/zqStringList.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TempDir
{
    std::string path;
    TempDir()
    {
        char name[] = "/tmp/zqplatform.XXXXXX";
        path = std::string(mkdtemp(name)) + "/";
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::vector<std::string> list() const
    {
        std::vector<std::string> names;
        DIR*                     dir = opendir(path.c_str());
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.' || (std::string(entry->d_name) != "." && std::string(entry->d_name) != ".."))
                names.push_back(entry->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }
};

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

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

// The temporary file: named after its target, host and process; renamed over the target keeping its mode, or gone.
TEST(ZqTempFileBeside, CommitReplacesAndDiscardRemoves)
{
    TempDir     dir;
    std::string target = dir.path + "shot.0001.exr";
    writeBytes(target, "old");
    chmod(target.c_str(), 0600);
    {
        zqTempFileBeside temp(QString::fromStdString(target));
        std::string      name = temp.path().toStdString().substr(dir.path.size());
        std::string      stem = ".shot.0001.exr." + zqSystemHostName().toStdString() + "." + std::to_string(getpid()) + ".";
        EXPECT_EQ(name.rfind(stem, 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 6), ".zqtmp");
        ASSERT_TRUE(temp.create());
        ASSERT_EQ(write(temp.fd(), "new", 3), 3);
        EXPECT_TRUE(temp.commit());
    }
    EXPECT_EQ(readBytes(target), "new");
    struct stat info;
    stat(target.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    {
        zqTempFileBeside temp(QString::fromStdString(target));
        ASSERT_TRUE(temp.create());
        ASSERT_EQ(write(temp.fd(), "abandoned", 9), 9);
    }
    EXPECT_EQ(dir.list(), std::vector<std::string>{"shot.0001.exr"});
    EXPECT_EQ(readBytes(target), "new");
}

} // namespace
