// Channel classification: the layer name a channel belongs to.
#pragma once

#include "zqshared/zqString8.h"

/// Turns a channel name into its layer name in place: lower-case with a capital first letter, component suffix
/// removed, and the known layer names "PackedRGBA", "PackedRGB" and "Crypto" in one form. R, G, B, A stay as they are.
void normalizeChannelName(_zqString8_allSize<500>& name);
