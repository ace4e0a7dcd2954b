// Names of the enumerations a recipe can set, shared by part settings and attributes.
#pragma once

#include <ImfCompression.h>
#include <ImfDeepImageState.h>
#include <ImfEnvmap.h>
#include <ImfLineOrder.h>
#include <ImfTileDescription.h>

#include <utility>

namespace zqtools {

/// compression= names.
inline const std::pair<const char*, Imf::Compression> kCompressionNames[] = {
    {"none", Imf::NO_COMPRESSION},  {"rle", Imf::RLE_COMPRESSION},   {"zips", Imf::ZIPS_COMPRESSION},
    {"zip", Imf::ZIP_COMPRESSION},  {"piz", Imf::PIZ_COMPRESSION},   {"pxr24", Imf::PXR24_COMPRESSION},
    {"b44", Imf::B44_COMPRESSION},  {"b44a", Imf::B44A_COMPRESSION}, {"dwaa", Imf::DWAA_COMPRESSION},
    {"dwab", Imf::DWAB_COMPRESSION}};

/// lineorder= names.
inline const std::pair<const char*, Imf::LineOrder> kLineOrderNames[] = {
    {"increasing", Imf::INCREASING_Y}, {"decreasing", Imf::DECREASING_Y}, {"random", Imf::RANDOM_Y}};

/// Level modes of a tile description.
inline const std::pair<const char*, Imf::LevelMode> kLevelModeNames[] = {
    {"one", Imf::ONE_LEVEL}, {"mipmap", Imf::MIPMAP_LEVELS}, {"ripmap", Imf::RIPMAP_LEVELS}};

/// Level size rounding.
inline const std::pair<const char*, Imf::LevelRoundingMode> kRoundingNames[] = {{"down", Imf::ROUND_DOWN},
                                                                                {"up", Imf::ROUND_UP}};

/// Environment map kinds.
inline const std::pair<const char*, Imf::Envmap> kEnvmapNames[] = {{"latlong", Imf::ENVMAP_LATLONG},
                                                                   {"cube", Imf::ENVMAP_CUBE}};

/// Deep image states.
inline const std::pair<const char*, Imf::DeepImageState> kDeepStateNames[] = {
    {"messy", Imf::DIS_MESSY},
    {"sorted", Imf::DIS_SORTED},
    {"nonoverlapping", Imf::DIS_NON_OVERLAPPING},
    {"tidy", Imf::DIS_TIDY}};

} // namespace zqtools
