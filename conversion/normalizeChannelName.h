// Channel classification: the layer name a channel belongs to.
#pragma once

#include <string>

/// Turns a channel name (the whole of it) into its layer name in place: lower-case with a capital first letter,
/// component suffix removed, and the known layer names "PackedRGBA", "PackedRGB" and "Crypto" in one form. R, G, B, A
/// stay as they are.
void normalizeChannelName(std::string& name);
