// Small text helpers of the recipe parser: splitting, percent-decoding, repeats and numbers.
#include "recipeText.h"

#include <cerrno>
#include <cstdlib>

namespace zqtools {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Repeated text is capped so that a typo cannot ask for gigabytes.
constexpr int64_t kMaxRepeatedBytes = 16 << 20;

} // namespace

std::vector<std::string> splitOn(const std::string& text, char separator)
{
    std::vector<std::string> pieces(1);
    for (char c : text)
        if (c == separator)
            pieces.emplace_back();
        else
            pieces.back() += c;
    return pieces;
}

std::vector<std::string> splitOutsideBraces(const std::string& text, char separator)
{
    std::vector<std::string> pieces(1);
    int                      depth = 0;
    for (char c : text)
    {
        depth += c == '{' ? 1 : c == '}' ? -1 : 0;
        if (c == separator && depth == 0)
            pieces.emplace_back();
        else
            pieces.back() += c;
    }
    if (depth != 0)
        throw RecipeError("unbalanced braces in '" + text + "'");
    return pieces;
}

std::string percentDecode(const std::string& raw)
{
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i)
    {
        if (raw[i] != '%')
        {
            text += raw[i];
            continue;
        }
        int high = i + 2 < raw.size() ? hexDigit(raw[i + 1]) : -1;
        int low = i + 2 < raw.size() ? hexDigit(raw[i + 2]) : -1;
        if (high < 0 || low < 0)
            throw RecipeError("bad percent escape in '" + raw + "' (write %25 for a '%')");
        text += char(high * 16 + low);
        i += 2;
    }
    return text;
}

std::string textValue(const std::string& raw)
{
    size_t star = raw.rfind('*');
    if (star == std::string::npos || star + 1 == raw.size() ||
        raw.find_first_not_of("0123456789", star + 1) != std::string::npos)
        return percentDecode(raw);
    std::string unit = percentDecode(raw.substr(0, star));
    int64_t     count = parseInteger(raw.substr(star + 1), 0, kMaxRepeatedBytes, "repeat count");
    if (int64_t(unit.size()) * count > kMaxRepeatedBytes)
        throw RecipeError("repeated text '" + raw + "' is longer than 16 MiB");
    std::string text;
    text.reserve(unit.size() * size_t(count));
    for (int64_t i = 0; i < count; ++i)
        text += unit;
    return text;
}

int64_t parseInteger(const std::string& raw, int64_t low, int64_t high, const std::string& what)
{
    std::string text = percentDecode(raw);
    char*       end = nullptr;
    errno = 0;
    long long value = text.empty() ? 0 : std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno == ERANGE)
        throw RecipeError(what + " '" + raw + "' is not a whole number");
    if (value < low || value > high)
        throw RecipeError(what + " " + text + " is outside " + std::to_string(low) + ".." + std::to_string(high));
    return value;
}

double parseNumber(const std::string& raw, const std::string& what)
{
    std::string text = percentDecode(raw);
    char*       end = nullptr;
    double      value = text.empty() ? 0 : std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0')
        throw RecipeError(what + " '" + raw + "' is not a number");
    return value;
}

std::vector<double> parseNumbers(const std::string& raw, size_t count, const std::string& what)
{
    std::vector<std::string> pieces = splitOn(raw, ',');
    if (pieces.size() != count)
        throw RecipeError(what + " '" + raw + "' needs " + std::to_string(count) + " comma-separated numbers");
    std::vector<double> values;
    for (const std::string& piece : pieces)
        values.push_back(parseNumber(piece, what));
    return values;
}

std::vector<int64_t> parseIntegers(const std::string& raw, size_t count, int64_t low, int64_t high,
                                   const std::string& what)
{
    std::vector<std::string> pieces = splitOn(raw, ',');
    if (pieces.size() != count)
        throw RecipeError(what + " '" + raw + "' needs " + std::to_string(count) + " comma-separated whole numbers");
    std::vector<int64_t> values;
    for (const std::string& piece : pieces)
        values.push_back(parseInteger(piece, low, high, what));
    return values;
}

std::pair<int, int> parseSize(const std::string& raw, const std::string& what)
{
    std::vector<std::string> pieces = splitOn(raw, 'x');
    if (pieces.size() != 2)
        throw RecipeError(what + " '" + raw + "' is not WxH");
    return {int(parseInteger(pieces[0], 1, INT32_MAX, what)), int(parseInteger(pieces[1], 1, INT32_MAX, what))};
}

} // namespace zqtools
