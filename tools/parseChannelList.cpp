// The channels= list of a recipe: "name[:type[:xs,ys]]" items with bash-like brace expansion in names.
#include "makeFrame.h"
#include "recipeText.h"

#include <set>

namespace zqtools {

namespace {

// More channels than a part could sensibly hold is a typo in a range.
constexpr size_t kMaxNames = 100000;

const std::pair<const char*, Imf::PixelType> kTypes[] = {{"h", Imf::HALF},      {"f", Imf::FLOAT},
                                                         {"u", Imf::UINT},      {"half", Imf::HALF},
                                                         {"float", Imf::FLOAT}, {"uint", Imf::UINT}};

bool isRangeEnd(const std::string& text)
{
    size_t digits = text.size() > 1 && text[0] == '-' ? 1 : 0;
    return digits < text.size() && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

bool zeroPadded(const std::string& end)
{
    size_t first = end[0] == '-' ? 1 : 0;
    return end.size() > first + 1 && end[first] == '0';
}

// "A..B" as the numbers from A to B (either way), zero-padded when an end is written with a leading zero.
std::vector<std::string> expandRange(const std::string& inner)
{
    size_t      dots = inner.find("..");
    std::string from = inner.substr(0, dots == std::string::npos ? 0 : dots);
    std::string to = dots == std::string::npos ? std::string() : inner.substr(dots + 2);
    if (!isRangeEnd(from) || !isRangeEnd(to))
        throw RecipeError("brace expression {" + inner + "} is neither a list a,b nor a range 0..9");
    int64_t first = parseInteger(from, -1000000000, 1000000000, "range end");
    int64_t last = parseInteger(to, -1000000000, 1000000000, "range end");
    if ((first > last ? first - last : last - first) >= int64_t(kMaxNames))
        throw RecipeError("range {" + inner + "} is too long");
    size_t                   width = zeroPadded(from) || zeroPadded(to) ? std::max(from.size(), to.size()) : 0;
    std::vector<std::string> numbers;
    for (int64_t n = first;; n += first <= last ? 1 : -1)
    {
        std::string digits = std::to_string(n < 0 ? -n : n);
        size_t      pad = width > digits.size() + (n < 0) ? width - digits.size() - (n < 0) : 0;
        numbers.push_back((n < 0 ? "-" : "") + std::string(pad, '0') + digits);
        if (n == last)
            break;
    }
    return numbers;
}

size_t matchingBrace(const std::string& text, size_t open)
{
    int depth = 0;
    for (size_t i = open; i < text.size(); ++i)
    {
        depth += text[i] == '{' ? 1 : text[i] == '}' ? -1 : 0;
        if (depth == 0)
            return i;
    }
    throw RecipeError("unbalanced braces in '" + text + "'");
}

ChannelRecipe channelTemplate(const std::vector<std::string>& fields, const std::string& item)
{
    ChannelRecipe channel;
    if (fields.size() > 1)
        channel.type = parseChoice(fields[1], kTypes, "channel type in '" + item + "'");
    if (fields.size() > 2)
    {
        std::vector<int64_t> sampling = parseIntegers(fields[2], 2, 1, 1 << 16, "sampling in '" + item + "'");
        channel.xSampling = int(sampling[0]);
        channel.ySampling = int(sampling[1]);
    }
    if (fields.size() > 3)
        throw RecipeError("channel '" + item + "' is not name[:type[:xs,ys]]");
    return channel;
}

// Commas split the list, except the one between a channel's x and y sampling: "RY:h:2,2".
std::vector<std::string> channelItems(const std::string& raw)
{
    std::vector<std::string> items;
    for (const std::string& piece : splitOutsideBraces(raw, ','))
    {
        std::vector<std::string> fields =
            items.empty() ? std::vector<std::string>() : splitOutsideBraces(items.back(), ':');
        if (fields.size() == 3 && fields[2].find(',') == std::string::npos) // "name:type:xs" waits for its ys
            items.back() += "," + piece;
        else
            items.push_back(piece);
    }
    return items;
}

} // namespace

std::vector<std::string> expandBraces(const std::string& raw)
{
    size_t open = raw.find('{');
    if (open == std::string::npos)
    {
        if (raw.find('}') != std::string::npos)
            throw RecipeError("unbalanced braces in '" + raw + "'");
        return {raw};
    }
    size_t                   close = matchingBrace(raw, open);
    std::string              inner = raw.substr(open + 1, close - open - 1);
    std::vector<std::string> choices = splitOutsideBraces(inner, ',');
    if (choices.size() == 1)
        choices = expandRange(inner);
    std::vector<std::string> names;
    for (const std::string& choice : choices)
        for (const std::string& rest : expandBraces(choice + raw.substr(close + 1)))
        {
            names.push_back(raw.substr(0, open) + rest);
            if (names.size() > kMaxNames)
                throw RecipeError("'" + raw + "' expands to more than 100000 names");
        }
    return names;
}

std::vector<ChannelRecipe> parseChannelList(const std::string& raw)
{
    std::vector<ChannelRecipe> channels;
    if (raw.empty())
        return channels;
    std::set<std::string> seen;
    for (const std::string& item : channelItems(raw))
    {
        std::vector<std::string> fields = splitOutsideBraces(item, ':');
        ChannelRecipe            model = channelTemplate(fields, item);
        for (const std::string& name : expandBraces(fields[0]))
        {
            model.name = textValue(name);
            if (model.name.empty())
                throw RecipeError("empty channel name in '" + item + "'");
            if (!seen.insert(model.name).second)
                throw RecipeError("channel '" + model.name + "' is listed twice");
            channels.push_back(model);
            if (channels.size() > kMaxNames)
                throw RecipeError("more than 100000 channels");
        }
    }
    return channels;
}

} // namespace zqtools
