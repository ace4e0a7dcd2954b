// Channel-name normalisation, part naming, and the split of channels into parts by layer and view.
#include "conversion/makePartNamesUnique.h"
#include "conversion/normalizeChannelName.h"
#include "conversion/channelEntries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(NormalizeChannelName, LayerNames)
{
    const struct
    {
        const char* channel;
        const char* layer;
    } cases[] = {
        // colour channels stay as they are
        {"R", "R"}, {"G", "G"}, {"B", "B"}, {"A", "A"}, {"Z", "Z"},
        // one suffix, any case
        {"diffuse.R", "Diffuse"}, {"Diffuse.red", "Diffuse"}, {"spec.RED", "Spec"}, {"spec.Green", "Spec"},
        {"x.blue", "X"}, {"x.ALPHA", "X"}, {"N.X", "N"}, {"P.y", "P"}, {"depth.Z", "Depth"},
        // suffixes are taken off once each, in list order
        {"N.x.r", "N"}, {"N.y.z", "N.y"}, {"a.r.g", "A.r"}, {"a.g.r", "A"}, {"c.red.r", "C.red"}, {"c.r.red", "C"},
        // known layer names
        {"cryptomatte00.R", "Crypto00"}, {"CryptoMatte.B", "Crypto"}, {"CryptoAsset.R", "Cryptoasset"},
        {"packedRGBA.G", "PackedRGBA"}, {"packedrgb.a", "PackedRGB"}, {"userCryptomatte.R", "Usercryptomatte"},
        // other cases
        {"left.diffuse.R", "Left.diffuse"}, {"BeautyDiffuse.R", "Beautydiffuse"}, {".r", ""}, {"", ""},
    };
    for (const auto& c : cases)
    {
        std::string name = c.channel;
        normalizeChannelName(name);
        EXPECT_EQ(name, c.layer) << c.channel;
    }
}

std::vector<std::string> uniqueNames(const std::vector<std::string>& names)
{
    std::vector<Imf::Header> headers(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        headers[i].setName(names[i]);
    EXPECT_TRUE(makePartNamesUnique(headers));
    std::vector<std::string> result;
    for (const Imf::Header& header : headers)
        result.push_back(header.name());
    return result;
}

TEST(MakePartNamesUnique, RenamesLaterDuplicates)
{
    using Names = std::vector<std::string>;
    EXPECT_EQ(uniqueNames({"", "", ""}), (Names{"", "_1_1", "_2_1"}));
    EXPECT_EQ(uniqueNames({"beauty", "beauty", "beauty"}), (Names{"beauty", "beauty_1_1", "beauty_2_1"}));
    EXPECT_EQ(uniqueNames({"c", "c_2_1", "c"}), (Names{"c", "c_2_1", "c_2_2"}));
    EXPECT_EQ(uniqueNames({"a_1_1", "a", "a"}), (Names{"a_1_1", "a", "a_2_1"}));
    EXPECT_EQ(uniqueNames({"x", "y", "z"}), (Names{"x", "y", "z"}));
    EXPECT_EQ(uniqueNames({}), Names{});
    // candidates are built afresh: the twelfth duplicate is "_11_1", not a longer text
    Names many(12, "p");
    EXPECT_EQ(uniqueNames(many).back(), "p_11_1");
}

TEST(MakePartNamesUnique, StopsAtAHeaderWithoutName)
{
    std::vector<Imf::Header> headers(3);
    headers[0].setName("a");
    headers[2].setName("a");
    EXPECT_FALSE(makePartNamesUnique(headers));
    EXPECT_EQ(headers[0].name(), "a");
}

// Groups channels given as "fullName" or "fullName@view" or "fullName@view@name" (the name without its view, when
// it differs) and returns "part:fullName" in entry order.
std::vector<std::string> grouping(const std::vector<std::string>& channels, const std::string& firstView,
                                  int32_t* groups = nullptr)
{
    std::vector<ChannelEntry> entries;
    for (const std::string& channel : channels)
    {
        ChannelEntry entry;
        size_t       at = channel.find('@'), second = channel.find('@', at + 1);
        entry.fullName = channel.substr(0, at);
        entry.view = at == std::string::npos ? "" : channel.substr(at + 1, second - at - 1);
        entry.name = second == std::string::npos ? entry.fullName : channel.substr(second + 1);
        entries.push_back(entry);
    }
    int32_t count = groupChannelsIntoParts(entries, firstView);
    if (groups)
        *groups = count;
    std::vector<std::string> result;
    for (const ChannelEntry& entry : entries)
        result.push_back(std::to_string(entry.part) + ":" + entry.fullName);
    return result;
}

TEST(GroupChannelsIntoParts, LayersInByteOrder)
{
    using Parts = std::vector<std::string>;
    int32_t groups = 0;
    EXPECT_EQ(grouping({"A", "B", "G", "R", "Z"}, "", &groups), (Parts{"0:A", "0:B", "0:G", "0:R", "0:Z"}));
    EXPECT_EQ(groups, 1);
    EXPECT_EQ(grouping({"A", "B", "G", "R", "diffuse.B", "diffuse.G", "diffuse.R", "spec.R"}, "", &groups),
              (Parts{"0:A", "0:B", "0:G", "0:R", "1:diffuse.B", "1:diffuse.G", "1:diffuse.R", "2:spec.R"}));
    EXPECT_EQ(groups, 3);
    EXPECT_EQ(grouping({"A", "Z.depth"}, ""), (Parts{"0:A", "1:Z.depth"}));
    // upper case sorts first, bytes compare unsigned, a.b.c is in layer a.b, ".x" in the empty layer
    EXPECT_EQ(grouping({"diffuse.R", "Diffuse.R", "\xe9t\xe9.R", "a.b.c", ".x"}, ""),
              (Parts{"3:diffuse.R", "1:Diffuse.R", "4:\xe9t\xe9.R", "2:a.b.c", "0:.x"}));
}

TEST(GroupChannelsIntoParts, FirstViewLeadsEachLayer)
{
    using Parts = std::vector<std::string>;
    const std::vector<std::string> stereo = {"B@left",          "G@left",          "R@left",
                                             "right.B@right@B", "right.G@right@G", "right.R@right@R",
                                             "diffuse.left.R@left@diffuse.R", "diffuse.right.R@right@diffuse.R"};
    EXPECT_EQ(grouping(stereo, "left"), (Parts{"0:B", "0:G", "0:R", "1:right.B", "1:right.G", "1:right.R",
                                               "2:diffuse.left.R", "3:diffuse.right.R"}));
    // with right as the default view the unnamed channels belong to right
    const std::vector<std::string> rightFirst = {"B@right", "G@right", "R@right", "diffuse.left.R@left@diffuse.R",
                                                 "diffuse.right.R@right@diffuse.R"};
    EXPECT_EQ(grouping(rightFirst, "right"),
              (Parts{"0:B", "0:G", "0:R", "2:diffuse.left.R", "1:diffuse.right.R"}));
    // a layer without the first view numbers its views in order, the empty view first
    EXPECT_EQ(grouping({"x.R@b", "x.G@", "x.B@a"}, "left"), (Parts{"2:x.R", "0:x.G", "1:x.B"}));
}

} // namespace
