// libFuzzer entry: feeds arbitrary bytes to the frame conversion as one frame, the way the run driver does.
#include "convert/MetadataAttributeList.h"
#include "convert/convertFrame.h"
#include "driver/localHostName.h"

#include <ImfThreading.h>

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

constexpr int64_t kMemoryLimitMegabytes = 8000;

// Set up once per process: a private directory for the frame and its output, quiet console, one thread.
struct FuzzSetup
{
    std::string                            directory;
    QString                                inputPath;
    QString                                outputPath;
    QString                                hostName;
    std::unique_ptr<MetadataAttributeList> metadata = std::make_unique<MetadataAttributeList>();

    FuzzSetup()
    {
        char pattern[] = "/tmp/zqfuzz.XXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        directory = std::string(pattern) + "/";
        inputPath = QString::fromStdString(directory + "f.0001.exr");
        outputPath = QString::fromStdString(directory + "f_crop.0001.exr");
        hostName = localHostName();
        if (!std::freopen("/dev/null", "w", stdout))
            std::abort();
        Imf::setGlobalThreadCount(0);
    }
};

FuzzSetup& setup()
{
    static FuzzSetup instance;
    return instance;
}

bool writeFile(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A frame must never be lost or touched with NoOverwrite, and no temporary file may outlive the conversion.
void checkDirectory(const FuzzSetup& s, const uint8_t* data, size_t size)
{
    if (readFile(s.directory + "f.0001.exr") != std::string(reinterpret_cast<const char*>(data), size))
    {
        std::fprintf(stderr, "the input frame changed\n");
        std::abort();
    }
    DIR* dir = opendir(s.directory.c_str());
    if (!dir)
        std::abort();
    while (dirent* entry = readdir(dir))
        if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, "..") &&
            std::strcmp(entry->d_name, "f.0001.exr") && std::strcmp(entry->d_name, "f_crop.0001.exr"))
        {
            std::fprintf(stderr, "left behind: %s\n", entry->d_name);
            std::abort();
        }
    closedir(dir);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSetup&        s = setup();
    const std::string input = s.inputPath.toStdString();
    const std::string output = s.outputPath.toStdString();
    if (!writeFile(input, data, size))
        std::abort();

    resetMetadataList(*s.metadata);
    appendTextEntry(*s.metadata, QStringLiteral("ZQ/clientname"), s.hostName);
    bool    verbose = true;
    int64_t memoryLimit = kMemoryLimitMegabytes;
    QString detail;
    try
    {
        convertFrame(s.inputPath, s.outputPath, s.metadata.get(), &verbose, &memoryLimit, &detail);
    }
    catch (const std::exception&)
    {
        // the driver ends the frame with a result code here (bad_alloc included) and goes on
    }
    std::fflush(stdout);
    checkDirectory(s, data, size);
    std::remove(output.c_str());
    return 0;
}
