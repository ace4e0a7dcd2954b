// Frame sequence discovery on tables: the frame text of a listed name, and the slots, count and warnings of a listing.
#include "driver/findSequenceFrames.h"

#include <gtest/gtest.h>

namespace {

TEST(FrameTextOf, SeparatorsSignsAndExtension)
{
    struct Case
    {
        const char* name;
        const char* baseName;
        const char* extension;
        const char* expected; // nullptr: the name does not start with the base name
    };
    const Case cases[] = {
        // separators: at most two characters that are neither digit nor '-'
        {"shot.0001.exr", "shot.", ".exr", "0001"},
        {"shot.0001.exr", "shot", ".exr", "0001"},
        {"shot..0003.exr", "shot", ".exr", "0003"},
        {"shot...0003.exr", "shot", ".exr", ".0003"},
        {"shot._-5.exr", "shot", ".exr", "-5"},
        {"shot_v2.0001.exr", "shot", ".exr", "2.0001"},
        {"12.exr", "", ".exr", "12"},
        // signs
        {"shot.-005.exr", "shot.", ".exr", "-005"},
        {"shot.--5.exr", "shot.", ".exr", "--5"},
        {"shot.+5.exr", "shot.", ".exr", "5"},
        // base name in any case; the extension is cut by its length only
        {"SHOT.0001.EXR", "shot.", ".exr", "0001"},
        {"Shot.0001.tif", "sHOT.", ".exr", "0001"},
        {"shot.0001.exr", "shot.", "exr", "0001."},
        {"shot.7", "shot.", ".exr", "7"},
        // what is left when nothing or more than the number follows
        {"shot.exr", "shot", ".exr", ""},
        {"shot..exr", "shot.", ".exr", ""},
        {"shot.0001_mask.exr", "shot.", ".exr", "0001_mask"},
        // other names
        {"other.0001.exr", "shot.", ".exr", nullptr},
        {"sho", "shot", ".exr", nullptr},
        {"xshot.0001.exr", "shot", ".exr", nullptr},
    };
    for (const Case& c : cases)
    {
        QString text = frameTextOf(QString::fromUtf8(c.name), QString::fromUtf8(c.baseName),
                                   QString::fromUtf8(c.extension));
        if (!c.expected)
            EXPECT_TRUE(text.isNull()) << c.name << " gave '" << text.toStdString() << "'";
        else
        {
            EXPECT_FALSE(text.isNull()) << c.name;
            EXPECT_EQ(text.toStdString(), c.expected) << c.name;
        }
    }
}

TEST(PlaceSequenceFrames, SlotsFoundCountAndWarnings)
{
    struct Case
    {
        const char*              what;
        std::vector<std::string> names;
        const char*              baseName;
        SequenceRange            range;
        std::vector<std::string> slots; // "name text" per slot, "-" when empty
        int32_t                  found;
        std::string              console;
    };
    const Case cases[] = {
        {"gaps, in frame order whatever the listing order",
         {"shot.0003.exr", "shot.0001.exr"}, "shot.", {1, 4, 1, 0, 4},
         {"shot.0001.exr 0001", "-", "shot.0003.exr 0003", "-"}, 2, ""},
        {"step: off-step, past the end and before the start warn",
         {"shot.0002.exr", "shot.0005.exr", "shot.0011.exr", "shot.0000.exr", "shot.0009.exr"},
         "shot.",
         {1, 9, 2, 0, 5},
         {"-", "-", "shot.0005.exr 0005", "-", "shot.0009.exr 0009"}, 2,
         "Warning:  Not a frame of this sequene '0002' : 2!=step (1-9,2 offs:0) \n"
         "Warning:  Not a frame of this sequene '0011' : 11>end (1-9,2 offs:0) \n"
         "Warning:  Not a frame of this sequene '0000' : 0<start (1-9,2 offs:0) \n"},
        {"the same number twice: both count, the later one holds the slot",
         {"shot.1.exr", "shot.0001.exr"}, "shot.", {1, 1, 1, 0, 1}, {"shot.0001.exr 0001"}, 2, ""},
        {"offset 100 moves -99 to the first slot",
         {"shot.1.exr", "shot.-99.exr"}, "shot.", {1, 10, 1, 100, 10},
         {"shot.-99.exr -99", "-", "-", "-", "-", "-", "-", "-", "-", "-"}, 1,
         "Warning:  Not a frame of this sequene '1' : 1>end (1-10,1 offs:100) \n"},
        {"negative offset",
         {"shot.1.exr", "shot.6.exr"}, "shot.", {1, 1, 1, -5, 1}, {"shot.6.exr 6"}, 1,
         "Warning:  Not a frame of this sequene '1' : 1<start (1-1,1 offs:-5) \n"},
        {"negative frame numbers",
         {"shot.-003.exr", "shot.0000.exr", "shot.-001.exr", "shot.0003.exr"}, "shot.", {-3, 3, 3, 0, 3},
         {"shot.-003.exr -003", "shot.0000.exr 0000", "shot.0003.exr 0003"}, 3,
         "Warning:  Not a frame of this sequene '-001' : -1!=step (-3-3,3 offs:0) \n"},
        {"base name in any case, separators and plus sign",
         {"SHOT.0002.exr", "shot..0003.exr", "shot.+4.exr", "shot_5.exr"}, "shot", {1, 5, 1, 0, 5},
         {"-", "SHOT.0002.exr 0002", "shot..0003.exr 0003", "shot.+4.exr 4", "shot_5.exr 5"}, 4, ""},
        {"names that are no frames are skipped silently",
         {"shot.0001_mask.exr", "shot_v2.0001.exr", "shot.exr", "other.0001.exr", "shot...0001.exr", "shot.x.exr",
          "shot.1.5.exr"},
         "shot", {1, 2, 1, 0, 2}, {"-", "-"}, 0, ""},
    };
    for (const Case& c : cases)
    {
        QStringList names;
        for (const std::string& name : c.names)
            names.append(QString::fromStdString(name));
        FrameSlots slots(c.range.frameCount);
        ASSERT_TRUE(slots.isValid()) << c.what;
        QByteArray console;
        int32_t    strays = 0;
        int32_t    found = placeSequenceFrames(names, QString::fromLatin1(c.baseName), QStringLiteral(".exr"), c.range,
                                               slots, console, &strays);
        std::vector<std::string> placed;
        for (int32_t k = 0; k < slots.count(); ++k)
        {
            FrameSlot slot = slots.at(k);
            placed.push_back(slot.fileName.isEmpty() && slot.frameText.isEmpty()
                                 ? std::string("-")
                                 : slot.fileName.toStdString() + " " + slot.frameText.toStdString());
        }
        EXPECT_EQ(placed, c.slots) << c.what;
        EXPECT_EQ(found, c.found) << c.what;
        EXPECT_EQ(console.toStdString(), c.console) << c.what;
        EXPECT_EQ(strays, console.count('\n')) << c.what << ": one stray per warning";
    }
}

} // namespace
