// Part naming: every part of a multi-part file needs a distinct name.
#include "conversion/makePartNamesUnique.h"

#include <set>
#include <string>

bool makePartNamesUnique(std::vector<Imf::Header>& headers)
{
    std::set<std::string> inUse;
    for (size_t i = 0; i < headers.size(); ++i)
    {
        Imf::Header& header = headers[i];
        if (!header.hasName())
            return false;
        std::string name = header.name();
        if (inUse.count(name))
        {
            std::string candidate;
            for (unsigned long j = 1;; ++j)
            {
                candidate = name + "_" + std::to_string(i) + "_" + std::to_string(j);
                if (!inUse.count(candidate))
                    break;
            }
            name = candidate;
            header.setName(name);
        }
        inUse.insert(name);
    }
    return true;
}
