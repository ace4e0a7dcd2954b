// zqExrDump: a compact, stable text dump of OpenEXR files for test references and pixel-identity checks.
//
//   zqExrDump [--no-pixels] FILE...
//
// Prints per file its parts, windows, channels with an FNV-1a hash of their decoded samples, and every other
// attribute; nothing that depends on how the file was compressed. Exit 1 when anything could not be read.
#include "dumpExr.h"

#include <ImfThreading.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A fixed reader thread count, so that a damaged file reads the same on every machine.
constexpr int kReaderThreads = 2;

} // namespace

int main(int argc, char* argv[])
{
    bool                     pixels = true;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--no-pixels" && files.empty())
            pixels = false;
        else
            files.push_back(argv[i]);
    if (files.empty())
    {
        std::fprintf(stderr, "usage: zqExrDump [--no-pixels] FILE...\n");
        return 2;
    }
    Imf::setGlobalThreadCount(kReaderThreads);
    bool ok = true;
    for (const std::string& file : files)
    {
        std::string out = files.size() > 1 ? "file " + file + "\n" : std::string();
        ok = zqtools::dumpExr(file, pixels, out) && ok;
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
    return ok ? 0 : 1;
}
