// zqMakeFrame: writes OpenEXR frames and sequences from one-line recipes (tests, fuzz seeds, demo, benchmark).
//
//   zqMakeFrame PATH RECIPE...
//   zqMakeFrame -n FIRST-LAST PATH RECIPE...   (the run of '#' in PATH becomes the zero-padded frame number)
//
// Exit 0 when every frame is written, 2 for a bad command line or a recipe that cannot be made, 1 when a file
// cannot be written. tools/README.md describes the recipes.
#include "recipe.h"

#include <Iex.h>
#include <ImfThreading.h>

#include <cstdio>
#include <thread>

namespace {

using zqtools::RecipeError;

// Writes one frame; a frame that fails is removed, so that no half-written frame is left behind.
void makeFrame(const std::string& path, const std::string& recipe, int64_t frame)
{
    zqtools::FrameRecipe parsed = zqtools::parseRecipe(recipe, uint32_t(frame));
    try
    {
        zqtools::writeFrame(path, parsed);
    }
    catch (...)
    {
        std::remove(path.c_str());
        throw;
    }
}

int run(int argc, char* argv[])
{
    const char* const usage = "usage: zqMakeFrame [-n FIRST-LAST] PATH RECIPE...";
    bool              sequence = argc > 1 && std::string(argv[1]) == "-n";
    int               at = sequence ? 3 : 1;
    if (argc - at < 2)
        throw RecipeError(usage);
    std::string path = argv[at], recipe;
    for (int i = at + 1; i < argc; ++i)
        recipe += std::string(recipe.empty() ? "" : " ") + argv[i];
    Imf::setGlobalThreadCount(int(std::max(1u, std::thread::hardware_concurrency())));
    if (!sequence)
        return makeFrame(path, recipe, 0), 0;
    std::string range = argv[2];
    size_t      dash = range.find('-');
    if (dash == std::string::npos)
        throw RecipeError(usage);
    int64_t first = zqtools::parseInteger(range.substr(0, dash), 0, 999999999, "first frame");
    int64_t last = zqtools::parseInteger(range.substr(dash + 1), first, 999999999, "last frame");
    size_t  start = path.find('#'), end = path.find_first_not_of('#', start);
    end = end == std::string::npos ? path.size() : end;
    if (start == std::string::npos || path.find('#', end) != std::string::npos)
        throw RecipeError("with -n, PATH needs exactly one run of '#' for the frame number: " + path);
    for (int64_t frame = first; frame <= last; ++frame)
    {
        char number[32];
        std::snprintf(number, sizeof number, "%0*lld", int(end - start), static_cast<long long>(frame));
        makeFrame(path.substr(0, start) + number + path.substr(end), recipe, frame);
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    try
    {
        return run(argc, argv);
    }
    catch (const std::exception& e) // a recipe that cannot be made, or that the library refuses, is exit 2
    {
        std::fprintf(stderr, "zqMakeFrame: %s\n", e.what());
        return dynamic_cast<const RecipeError*>(&e) || dynamic_cast<const Iex::ArgExc*>(&e) ? 2 : 1;
    }
}
