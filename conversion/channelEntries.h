// View and layer naming: the split of a frame's channels into output parts by layer and view.
#pragma once

#include <ImfMultiPartInputFile.h>

#include <cstdint>
#include <string>
#include <vector>

/// One channel of the input with its view, its name without the view and its part.
struct ChannelEntry
{
    std::string name;     ///< the channel name without its view component (multi-view files), else as stored
    std::string view;     ///< the view the channel belongs to, or empty
    int32_t     part = 0; ///< input part index after the inventory; output part index after the grouping
    std::string fullName; ///< the channel name as stored in the file
};

/// Appends one entry per channel of every part, in part order and channel-list order.
void collectChannelEntries(const Imf::MultiPartInputFile& input, std::vector<ChannelEntry>& entries);

/// The layer of a channel name: the text before its last '.', or empty.
std::string layerOf(const std::string& name);

/// Groups the entries by layer and view, the first view's group first within each layer, layers and other views in
/// byte-wise order; sets every entry's part to its group number and returns the number of groups.
int32_t groupChannelsIntoParts(std::vector<ChannelEntry>& entries, const std::string& firstView);
