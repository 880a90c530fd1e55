// The order in which the graph builder tries candidates: higher merit first, then candidates
// that list a requested type exactly before those that match only through wildcards.
#pragma once

#include "graph/GraphFilter.h"

#include <vector>

struct SortFilter
{
    CGraphFilter* pFilter; // borrowed: the builder's lists own the candidates
    bool bExact;           // CheckTypesExact for the types of the current search
};

// The comparison for qsort over SortFilter elements; returns -1, 0 or 1.
int __cdecl SortFilterCompare(const void* a, const void* b);

// The candidates in the order to try them for `requested` type pairs.
std::vector<SortFilter> OrderCandidates(const std::vector<CGraphFilter*>& candidates,
                                        const std::vector<GUID>& requested);
