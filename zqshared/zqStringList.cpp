// The shared library's ordered list of texts.
#include "zqshared/zqStringList.h"

#include <algorithm>
#include <cctype>

void _zqStringList::append(const std::string& item, bool unique, bool /*sorted*/)
{
    if (unique && find(item, false) >= 0)
        return;
    items.push_back(item);
}

void _zqStringList::insert(int index, const std::string& item)
{
    index = std::clamp(index, 0, count());
    items.insert(items.begin() + index, item);
}

int _zqStringList::find(const std::string& item, bool ignoreCase) const
{
    for (int i = 0; i < count(); ++i)
    {
        const std::string& text = items[size_t(i)];
        if (!ignoreCase ? text == item
                        : std::equal(text.begin(), text.end(), item.begin(), item.end(), [](char a, char b) {
                              return std::tolower(static_cast<unsigned char>(a)) ==
                                     std::tolower(static_cast<unsigned char>(b));
                          }))
            return i;
    }
    return -1;
}

void _zqStringList::removeAt(int index)
{
    if (index >= 0 && index < count())
        items.erase(items.begin() + index);
}
