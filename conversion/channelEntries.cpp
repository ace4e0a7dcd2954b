// View and layer naming: the split of a frame's channels into output parts by layer and view.
#include "conversion/channelEntries.h"

#include <ImfChannelList.h>
#include <ImfMultiView.h>
#include <ImfStandardAttributes.h>

#include <map>
#include <set>
#include <utility>

namespace {

// Byte-wise order of texts as unsigned bytes, the shorter first when one begins the other.
struct ByteOrder
{
    bool operator()(const std::string& a, const std::string& b) const { return a.compare(b) < 0; }
};

} // namespace

void collectChannelEntries(const Imf::MultiPartInputFile& input, std::vector<ChannelEntry>& entries)
{
    // An empty list of views is no list: the library's view of a channel without a period would be its first entry.
    bool              multiView = input.parts() == 1 && Imf::hasMultiView(input.header(0));
    Imf::StringVector views;
    if (multiView)
        views = Imf::multiView(input.header(0));
    multiView = multiView && !views.empty();
    for (int p = 0; p < input.parts(); ++p)
    {
        const Imf::Header& header = input.header(p);
        std::string        partView = header.hasView() ? header.view() : std::string();
        for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
        {
            ChannelEntry entry;
            entry.fullName = it.name();
            entry.name = it.name();
            if (multiView)
            {
                entry.view = Imf::viewFromChannelName(entry.fullName, views);
                entry.name = Imf::removeViewName(entry.fullName, entry.view);
            }
            else
                entry.view = partView;
            entry.part = p;
            entries.push_back(std::move(entry));
        }
    }
}

std::string layerOf(const std::string& name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

int32_t groupChannelsIntoParts(std::vector<ChannelEntry>& entries, const std::string& firstView)
{
    std::map<std::string, std::set<std::string, ByteOrder>, ByteOrder> layers;
    for (const ChannelEntry& entry : entries)
        layers[layerOf(entry.name)].insert(entry.view);

    std::map<std::pair<std::string, std::string>, int32_t> groups;
    int32_t                                                next = 0;
    for (const auto& [layer, views] : layers)
    {
        if (views.count(firstView))
            groups[{layer, firstView}] = next++;
        for (const std::string& view : views)
            if (view != firstView)
                groups[{layer, view}] = next++;
    }
    for (ChannelEntry& entry : entries)
        entry.part = groups[{layerOf(entry.name), entry.view}];
    return next;
}
