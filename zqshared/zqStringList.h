// The shared library's ordered list of texts.
#pragma once

#include <string>
#include <vector>

/// An ordered list of texts; callers read the element count directly.
struct _zqStringList
{
    std::vector<std::string> items; ///< the texts in list order

    /// Number of texts in the list.
    int count() const { return int(items.size()); }
    /// Appends item; with unique set, an item already in the list is not added again. sorted is accepted and ignored.
    void append(const std::string& item, bool unique, bool sorted);
    /// Inserts item before position index (clamped to the list).
    void insert(int index, const std::string& item);
    /// Index of the first text equal to item (exact and case-sensitive when ignoreCase is false), or -1.
    int find(const std::string& item, bool ignoreCase) const;
    /// Removes the text at index; out-of-range indices are ignored.
    void removeAt(int index);
};
