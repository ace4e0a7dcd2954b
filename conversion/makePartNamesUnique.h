// Part naming: every part of a multi-part file needs a distinct name.
#pragma once

#include <ImfHeader.h>

#include <vector>

/// Renames every header whose name an earlier header uses to "<name>_<index>_<j>" with the first free j.
/// Returns false as soon as a header has no name.
bool makePartNamesUnique(std::vector<Imf::Header>& headers);
