// Collection of header attributes into the metadata list and stamping of the list into output headers.
#include "convert/collectHeaderAttributes.h"
#include "convert/stampMetadata.h"

#include <ImfBoxAttribute.h>
#include <ImfChromaticitiesAttribute.h>
#include <ImfDoubleAttribute.h>
#include <ImfFloatAttribute.h>
#include <ImfFloatVectorAttribute.h>
#include <ImfIntAttribute.h>
#include <ImfMatrixAttribute.h>
#include <ImfStringAttribute.h>
#include <ImfStringVectorAttribute.h>
#include <ImfVecAttribute.h>

#include <gtest/gtest.h>

#include <memory>
#include <regex>

namespace {

std::unique_ptr<MetadataAttributeList> freshList()
{
    auto list = std::make_unique<MetadataAttributeList>();
    resetMetadataList(*list);
    return list;
}

TEST(CollectHeaderAttributes, KeepsSevenTypesAndDropsTheRest)
{
    Imf::Header header(64, 32);
    header.setName("beauty");
    header.insert("aString", Imf::StringAttribute("text"));
    header.insert("anInt", Imf::IntAttribute(-7));
    header.insert("aFloat", Imf::FloatAttribute(2.5f));
    header.insert("aBox", Imf::Box2iAttribute(Imath::Box2i()));
    header.insert("aDouble", Imf::DoubleAttribute(1.0));
    header.insert("chroma", Imf::ChromaticitiesAttribute(Imf::Chromaticities()));
    header.insert("names", Imf::StringVectorAttribute({"a"}));
    header.insert("aV2f", Imf::V2fAttribute(Imath::V2f(1, 2)));
    header.insert("aV3f", Imf::V3fAttribute(Imath::V3f(1, 2, 3)));
    header.insert("aMatrix", Imf::M44fAttribute(Imath::M44f(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16)));
    header.insert("aVector", Imf::FloatVectorAttribute(std::vector<float>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    header.insert("mychunkCountCopy", Imf::IntAttribute(3));
    header.insert(std::string(80, 'n'), Imf::StringAttribute(std::string(6000, 'v')));

    auto list = freshList();
    appendTextEntry(*list, "ZQ/clientname", "host");
    collectHeaderAttributes(header, *list);

    // header order is by name; standard attributes, "...ChunkCount..." and other types are not kept
    std::vector<std::string> names;
    for (uint32_t i = 0; i < list->count; ++i)
        names.push_back(list->entries[i].name.c_str());
    EXPECT_EQ(names, (std::vector<std::string>{"ZQ/clientname", "aFloat", "aMatrix", "aString", "aV2f", "aV3f",
                                               "aVector", "anInt", "name", std::string(75, 'n')}));
    auto entry = [&](const char* name) -> const MetadataAttribute& {
        for (uint32_t i = 0; i < list->count; ++i)
            if (list->entries[i].name.isEqual(name))
                return list->entries[i];
        ADD_FAILURE() << name;
        return list->entries[0];
    };
    EXPECT_EQ(entry("aFloat").type, MetadataValueType::Float);
    EXPECT_EQ(entry("aFloat").values[0].f, 2.5f);
    EXPECT_EQ(entry("anInt").type, MetadataValueType::Int);
    EXPECT_EQ(entry("anInt").values[0].i, -7);
    EXPECT_STREQ(entry("aString").text.c_str(), "text");
    EXPECT_EQ(entry("aV3f").values[2].f, 3.0f);
    EXPECT_EQ(entry("aMatrix").values[4].f, 5.0f); // row 1, column 0
    EXPECT_EQ(entry("aVector").valueCount, 10);
    EXPECT_EQ(entry("aVector").values[9].f, 9.0f);
    EXPECT_EQ(entry(std::string(75, 'n').c_str()).text.length, 5000);
}

TEST(CollectHeaderAttributes, StopsAtFourHundredEntries)
{
    Imf::Header header(8, 8);
    for (int i = 0; i < 450; ++i)
        header.insert("attr" + std::to_string(1000 + i), Imf::IntAttribute(i));
    auto list = freshList();
    collectHeaderAttributes(header, *list);
    EXPECT_EQ(list->count, 400u);
    EXPECT_STREQ(list->entries[399].name.c_str(), "attr1399");

    list->count = 400;
    collectHeaderAttributes(header, *list);
    EXPECT_EQ(list->count, 400u);
}

std::string stringAttribute(const Imf::Header& header, const char* name)
{
    const auto* attribute = header.findTypedAttribute<Imf::StringAttribute>(name);
    return attribute ? attribute->value() : "<none>";
}

TEST(StampMetadata, FixedAttributesThenEntriesWithStringsProtected)
{
    Imf::Header input(8, 8);
    input.insert("ZQ/application", Imf::StringAttribute("older tool"));
    input.insert("ZQ/clientname", Imf::StringAttribute("old host"));
    input.insert("ZQ/dateWrittenInt", Imf::IntAttribute(12345));
    input.insert("owner", Imf::StringAttribute("studio"));
    input.insert("exposure", Imf::FloatAttribute(1.5f));

    auto list = freshList();
    appendTextEntry(*list, "ZQ/scenename", "scene");
    appendTextEntry(*list, "ZQ/clientname", "new host");
    collectHeaderAttributes(input, *list);

    Imf::Header output(8, 8);
    bool        cropped = true, converted = false;
    stampMetadata(output, *list, &cropped, &converted);
    EXPECT_EQ(stringAttribute(output, "ZQ/application"), "zqCropExr");
    EXPECT_EQ(stringAttribute(output, "ZQ/cropped"), "yes");
    EXPECT_EQ(stringAttribute(output, "ZQ/convertedToMultiPart"), "no");
    EXPECT_EQ(stringAttribute(output, "ZQ/scenename"), "scene");
    EXPECT_EQ(stringAttribute(output, "ZQ/clientname"), "new host");
    EXPECT_EQ(stringAttribute(output, "owner"), "studio");
    EXPECT_EQ(output.typedAttribute<Imf::FloatAttribute>("exposure").value(), 1.5f);
    EXPECT_TRUE(std::regex_match(stringAttribute(output, "ZQ/dateWritten"),
                                 std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
    // an int collected from an earlier stamp replaces the fresh one: only strings protect a name
    EXPECT_EQ(output.typedAttribute<Imf::IntAttribute>("ZQ/dateWrittenInt").value(), 12345);
}

TEST(StampMetadata, InvalidMarkerAddsOnlyTheFixedAttributes)
{
    auto list = freshList();
    appendTextEntry(*list, "ZQ/scenename", "scene");
    list->marker = 65211;
    Imf::Header output(8, 8);
    bool        yes = true;
    stampMetadata(output, *list, &yes, &yes);
    EXPECT_EQ(stringAttribute(output, "ZQ/scenename"), "<none>");
    EXPECT_EQ(stringAttribute(output, "ZQ/convertedToMultiPart"), "yes");
    // the time stamp is local seconds: within a day of UTC
    int64_t stamped = int64_t(uint32_t(output.typedAttribute<Imf::IntAttribute>("ZQ/dateWrittenInt").value()));
    int64_t utcLow = int64_t(uint32_t(uint64_t(std::time(nullptr))));
    EXPECT_LT(std::llabs(stamped - utcLow), 86400);
}

TEST(MetadataList, TextEntriesAreCutAtTheirCapacity)
{
    auto list = freshList();
    EXPECT_TRUE(appendTextEntry(*list, QString(80, 'n'), QString(6000, 'v')));
    EXPECT_EQ(list->entries[0].name.length, 75);
    EXPECT_EQ(list->entries[0].text.length, 5000);
    EXPECT_EQ(list->entries[0].text.c_str()[5000], 0);
    list->count = kMetadataCapacity;
    EXPECT_FALSE(appendTextEntry(*list, "x", "y"));
}

} // namespace
