// Small text helpers of the recipe parser: splitting, percent-decoding, repeats and numbers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zqtools {

/// A recipe the generator cannot make; the message says why.
class RecipeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// Splits text at every separator; "" gives one empty piece.
std::vector<std::string> splitOn(const std::string& text, char separator);
/// Splits text at separators that are outside braces.
std::vector<std::string> splitOutsideBraces(const std::string& text, char separator);
/// Replaces %XX escapes by their byte; throws RecipeError on a bad escape.
std::string percentDecode(const std::string& raw);
/// A text value: "TEXT*N" repeats TEXT N times; the result is percent-decoded.
std::string textValue(const std::string& raw);
/// A whole number in [low, high]; what names the value in a message.
int64_t parseInteger(const std::string& raw, int64_t low, int64_t high, const std::string& what);
/// A number, also nan, inf and -inf.
double parseNumber(const std::string& raw, const std::string& what);
/// Exactly count comma-separated numbers.
std::vector<double> parseNumbers(const std::string& raw, size_t count, const std::string& what);
/// Exactly count comma-separated whole numbers in [low, high].
std::vector<int64_t> parseIntegers(const std::string& raw, size_t count, int64_t low, int64_t high,
                                   const std::string& what);
/// "WxH" with both at least 1.
std::pair<int, int> parseSize(const std::string& raw, const std::string& what);
/// One of the names of a table of (name, value) pairs.
template <class Value, size_t N>
Value parseChoice(const std::string& raw, const std::pair<const char*, Value> (&table)[N], const std::string& what)
{
    for (const auto& [name, value] : table)
        if (raw == name)
            return value;
    std::string names;
    for (const auto& entry : table)
        names += std::string(names.empty() ? "" : "|") + entry.first;
    throw RecipeError(what + " '" + raw + "' is not one of " + names);
}

} // namespace zqtools
