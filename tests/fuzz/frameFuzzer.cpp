// Fuzz targets of the frame conversion, through the entry the run driver uses. frameFuzzer takes each input as a
// frame; chunkFuzzer (built with ZQ_FUZZ_CHUNKS) takes one of the seed frames and lets the input rewrite its chunk
// tables, chunk leaders and length: bytes 1.. are operations of 10 bytes each, a kind, an index and a value.
//
// Every frame is converted twice with NoOverwrite on two threads: held whole under a budget of 1024 MB, and in bands
// of a few lines under a budget of 32 KB. Both must end alike and write the same bytes (the stamped dates aside)
// unless the small budget refuses the frame (a damaged frame may name another of its damages); the frame must keep its bytes, and nothing but the frame and its target
// may be left in the directory.
#include "frame/MetadataAttributeList.h"
#include "conversion/convertFrame.h"

#include <ImfThreading.h>
#include <openexr.h>

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

[[noreturn]] void fail(const char* what, const std::string& detail = std::string())
{
    std::fprintf(stderr, "%s %s\n", what, detail.c_str());
    std::abort();
}

// Set up once per process: a private directory for the frame and its target, a quiet console, two threads.
struct FuzzSetup
{
    std::string              directory;
    QString                  inputPath, outputPath;
    MetadataAttributeList    metadata;
    std::vector<std::string> seeds;

    FuzzSetup()
    {
        char pattern[] = "/tmp/zqfuzz.XXXXXX";
        if (!mkdtemp(pattern))
            fail("no temporary directory");
        directory = std::string(pattern) + "/";
        inputPath = QString::fromStdString(directory + "f.0001.exr");
        outputPath = QString::fromStdString(directory + "f_crop.0001.exr");
        if (!std::freopen("/dev/null", "w", stdout))
            fail("no /dev/null");
        Imf::setGlobalThreadCount(2);
        resetMetadataList(metadata);
        appendTextEntry(metadata, QStringLiteral("ZQ/clientname"), QStringLiteral("fuzz"));
#ifdef ZQ_FUZZ_CHUNKS
        std::vector<std::string> names;
        if (DIR* dir = opendir(ZQ_FUZZ_SEEDS))
        {
            while (dirent* entry = readdir(dir))
                if (std::strstr(entry->d_name, ".exr"))
                    names.push_back(entry->d_name);
            closedir(dir);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            seeds.push_back(readFile(std::string(ZQ_FUZZ_SEEDS) + "/" + name));
        if (seeds.empty())
            fail("no seed frames in", ZQ_FUZZ_SEEDS);
#endif
    }
};

FuzzSetup& setup()
{
    static FuzzSetup instance;
    return instance;
}

#ifdef ZQ_FUZZ_CHUNKS
int64_t readAt(exr_const_context_t, void* userdata, void* buffer, uint64_t bytes, uint64_t offset,
               exr_stream_error_func_ptr_t)
{
    const std::string& file = *static_cast<const std::string*>(userdata);
    if (offset >= file.size())
        return 0;
    uint64_t count = std::min<uint64_t>(bytes, file.size() - offset);
    std::memcpy(buffer, file.data() + offset, count);
    return int64_t(count);
}

void put(std::string& frame, size_t at, uint64_t value, size_t bytes)
{
    for (size_t i = 0; i < bytes && at + i < frame.size(); ++i)
        frame[at + i] = char(value >> (8 * i));
}

uint64_t get(const std::string& frame, size_t at)
{
    uint64_t value = 0;
    for (size_t i = 0; i < 8 && at + i < frame.size(); ++i)
        value |= uint64_t(uint8_t(frame[at + i])) << (8 * i);
    return value;
}

// Where the chunk tables start: after the magic number, the version, and the headers (attributes of name, type,
// size and value, each header ended by an empty name, a multi-part file's list of headers by one more).
size_t chunkTablesStart(const std::string& frame)
{
    bool   multiPart = frame.size() > 8 && (uint8_t(frame[5]) & 0x10);
    size_t at = 8;
    while (at < frame.size())
    {
        while (at < frame.size() && frame[at] != 0)
        {
            at = frame.find('\0', at) + 1;                       // name
            at = frame.find('\0', at) + 1;                       // type
            if (at == 0 || at + 4 > frame.size())
                return frame.size();
            at += 4 + size_t(uint32_t(get(frame, at)) & 0x7fffffff); // size and value
        }
        ++at;
        if (!multiPart || (at < frame.size() && frame[at] == 0))
            return at + (multiPart ? 1 : 0);
    }
    return frame.size();
}

// The file offsets of every chunk-table entry of every part of a well-formed frame.
std::vector<size_t> chunkTableEntries(const std::string& frame)
{
    std::vector<size_t>       entries;
    exr_context_t             context = nullptr;
    exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
    init.user_data = const_cast<std::string*>(&frame);
    init.read_fn = readAt;
    init.error_handler_fn = [](exr_const_context_t, exr_result_t, const char*) {};
    int    parts = 0;
    size_t entry = chunkTablesStart(frame);
    if (exr_start_read(&context, "seed", &init) == EXR_ERR_SUCCESS && exr_get_count(context, &parts) == EXR_ERR_SUCCESS)
        for (int p = 0; p < parts; ++p)
        {
            int32_t chunks = 0;
            if (exr_get_chunk_count(context, p, &chunks) == EXR_ERR_SUCCESS)
                for (int32_t c = 0; c < chunks && entry + 8 <= frame.size(); ++c, entry += 8)
                    entries.push_back(entry);
        }
    exr_finish(&context);
    return entries;
}

// A seed frame with the input's operations applied: 0 sets a table entry to an offset near the file, 1 copies one
// entry over another (chunks read twice or out of order), 2 sets one 32-bit field of a chunk's leader (part, line or
// tile coordinates, size), 3 cuts the file short.
std::string mutatedFrame(const FuzzSetup& s, const uint8_t* data, size_t size)
{
    std::string         frame = s.seeds[size > 0 ? data[0] % s.seeds.size() : 0];
    std::vector<size_t> entries = chunkTableEntries(frame);
    for (size_t at = 1; at + 10 <= size && !entries.empty(); at += 10)
    {
        uint64_t value = 0;
        std::memcpy(&value, data + at + 2, 8);
        size_t entry = entries[data[at + 1] % entries.size()];
        switch (data[at] % 4)
        {
        case 0: put(frame, entry, value % (2 * frame.size() + 64), 8); break;
        case 1: put(frame, entry, get(frame, entries[value % entries.size()]), 8); break;
        case 2: put(frame, size_t(get(frame, entry)) + 4 * (data[at] / 4 % 6), value, 4); break;
        case 3: frame.resize(size_t(value % (frame.size() + 1))); break;
        }
    }
    return frame;
}
#endif

// The bytes of a written frame with the values of its stamped dates set to 0.
std::string withoutDates(std::string frame)
{
    for (const char* name : {"ZQ/dateWritten", "ZQ/dateWrittenInt"})
        for (size_t at = frame.find(name); at != std::string::npos; at = frame.find(name, at + 1))
        {
            size_t type = at + std::strlen(name) + 1, size = frame.find('\0', type) + 1;
            if (frame[type - 1] != 0 || size == 0 || size + 4 > frame.size())
                continue;
            uint32_t bytes = uint32_t(uint8_t(frame[size])) | uint32_t(uint8_t(frame[size + 1])) << 8 |
                             uint32_t(uint8_t(frame[size + 2])) << 16 | uint32_t(uint8_t(frame[size + 3])) << 24;
            for (size_t i = size + 4; i < frame.size() && i < size + 4 + bytes; ++i)
                frame[i] = 0;
        }
    return frame;
}

// Converts the frame once within budget bytes; the result line's code and text, then what was written.
std::string convertOnce(FuzzSetup& s, int64_t budget)
{
    FrameJob job;
    job.inputPath = s.inputPath;
    job.outputPath = s.outputPath;
    job.metadata = s.metadata;
    job.memoryBudget = budget;
    int code = 0;
    try
    {
        code = convertFrame(job);
    }
    catch (const std::exception& error)
    {
        code = -1, job.detail = QString::fromUtf8(error.what()); // the driver ends the frame with a result here
    }
    std::fflush(stdout);
    std::string written = readFile(s.outputPath.toStdString());
    std::remove(s.outputPath.toStdString().c_str());
    return std::to_string(code) + " " + job.detail.toStdString() + "\n" + withoutDates(written);
}

// Only the frame (unchanged) and its target may be in the directory.
void checkDirectory(const FuzzSetup& s, const std::string& frame)
{
    if (readFile(s.inputPath.toStdString()) != frame)
        fail("the input frame changed");
    DIR* dir = opendir(s.directory.c_str());
    if (!dir)
        fail("the directory is gone");
    while (dirent* entry = readdir(dir))
        if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, "..") && std::strcmp(entry->d_name, "f.0001.exr"))
            fail("left behind:", entry->d_name);
    closedir(dir);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSetup& s = setup();
#ifdef ZQ_FUZZ_CHUNKS
    std::string frame = mutatedFrame(s, data, size);
#else
    std::string frame(reinterpret_cast<const char*>(data), size);
#endif
    {
        std::ofstream out(s.inputPath.toStdString(), std::ios::binary | std::ios::trunc);
        out.write(frame.data(), std::streamsize(frame.size()));
        if (!out.flush())
            fail("cannot write the frame");
    }
    if (std::getenv("ZQ_FUZZ_VERBOSE"))
        std::fprintf(stderr, "%s, %zu bytes\n", s.inputPath.toUtf8().constData(), frame.size());
    // A frame damaged in several chunks may be refused for another of its damages in bands: the result must be the
    // same, the reason may differ.
    std::string whole = convertOnce(s, int64_t(1024) << 20); // within the fuzzer's RSS limit
    std::string bands = convertOnce(s, int64_t(32) << 10);
    std::string wholeCode = whole.substr(0, whole.find(' ')), bandsCode = bands.substr(0, bands.find(' '));
    bool        damaged = wholeCode == std::to_string(int(DataError));
    if (bandsCode != std::to_string(int(DimensionsLargerThanBuffer)) && (damaged ? bandsCode != wholeCode : whole != bands))
        fail("the frame held whole and in bands ends differently:",
             whole.substr(0, whole.find('\n')) + " / " + bands.substr(0, bands.find('\n')));
    checkDirectory(s, frame);
    return 0;
}
