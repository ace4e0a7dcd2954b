// zqMakeFrame: writes OpenEXR frames and sequences from one-line recipes (tests, fuzz seeds, demo, benchmark).
//
//   zqMakeFrame PATH RECIPE...
//   zqMakeFrame -n FIRST-LAST PATH RECIPE...   (the run of '#' in PATH becomes the zero-padded frame number)
//
// Exit 0 when every frame is written, 2 for a bad command line or a recipe that cannot be made, 1 when a file
// cannot be written. tools/README.md describes the recipes.
#include "makeFrame.h"
#include "recipeText.h"

#include <Iex.h>
#include <ImfThreading.h>

#include <cstdio>
#include <thread>

namespace {

using zqtools::RecipeError;

struct Options
{
    bool        sequence = false; ///< -n was given
    int64_t     first = 0;        ///< first frame number
    int64_t     last = 0;         ///< last frame number
    std::string path;             ///< file name, or pattern with a run of '#'
    std::string recipe;           ///< the recipe words joined with blanks
};

const char* const kUsage = "usage: zqMakeFrame [-n FIRST-LAST] PATH RECIPE...";

Options parseCommandLine(int argc, char* argv[])
{
    Options options;
    int     at = 1;
    if (at < argc && std::string(argv[at]) == "-n")
    {
        std::vector<std::string> range =
            at + 1 < argc ? zqtools::splitOn(argv[at + 1], '-') : std::vector<std::string>();
        if (range.size() != 2)
            throw RecipeError(kUsage);
        options.sequence = true;
        options.first = zqtools::parseInteger(range[0], 0, 999999999, "first frame");
        options.last = zqtools::parseInteger(range[1], options.first, 999999999, "last frame");
        at += 2;
    }
    if (argc - at < 2)
        throw RecipeError(kUsage);
    options.path = argv[at++];
    for (; at < argc; ++at)
        options.recipe += std::string(options.recipe.empty() ? "" : " ") + argv[at];
    return options;
}

// The pattern with its one run of '#' replaced by the frame number, zero-padded to the run's length.
std::string framePath(const std::string& pattern, int64_t frame)
{
    size_t start = pattern.find('#');
    size_t end = pattern.find_first_not_of('#', start);
    end = end == std::string::npos ? pattern.size() : end;
    if (start == std::string::npos || pattern.find('#', end) != std::string::npos)
        throw RecipeError("with -n, PATH needs exactly one run of '#' for the frame number: " + pattern);
    char number[32];
    std::snprintf(number, sizeof number, "%0*lld", int(end - start), static_cast<long long>(frame));
    return pattern.substr(0, start) + number + pattern.substr(end);
}

void makeFrame(const std::string& path, const std::string& recipe, int64_t frame)
{
    zqtools::FrameRecipe parsed = zqtools::parseRecipe(recipe, uint32_t(frame));
    try
    {
        zqtools::writeFrame(path, parsed);
        zqtools::damageFrame(path, parsed.damage);
    }
    catch (...)
    {
        std::remove(path.c_str()); // no half-written frame is left behind
        throw;
    }
}

int run(int argc, char* argv[])
{
    Options options = parseCommandLine(argc, argv);
    Imf::setGlobalThreadCount(int(std::max(1u, std::thread::hardware_concurrency())));
    if (!options.sequence)
    {
        makeFrame(options.path, options.recipe, 0);
        return 0;
    }
    for (int64_t frame = options.first; frame <= options.last; ++frame)
        makeFrame(framePath(options.path, frame), options.recipe, frame);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    try
    {
        return run(argc, argv);
    }
    catch (const RecipeError& e)
    {
        std::fprintf(stderr, "zqMakeFrame: %s\n", e.what());
        return 2;
    }
    catch (const Iex::ArgExc& e) // the library refuses what the recipe asks for
    {
        std::fprintf(stderr, "zqMakeFrame: %s\n", e.what());
        return 2;
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "zqMakeFrame: %s\n", e.what());
        return 1;
    }
}
