#include "graph/SortFilter.h"

#include "framework/Exceptions.h"

#include <cstdlib>

int __cdecl SortFilterCompare(const void* a, const void* b)
{
    const SortFilter& left = *static_cast<const SortFilter*>(a);
    const SortFilter& right = *static_cast<const SortFilter*>(b);
    if (left.pFilter->m_merit > right.pFilter->m_merit)
        return -1;
    if (left.pFilter->m_merit < right.pFilter->m_merit)
        return 1;
    if (left.bExact != right.bExact)
        return left.bExact ? -1 : 1;
    return 0;
}

std::vector<SortFilter> OrderCandidates(const std::vector<CGraphFilter*>& candidates,
                                        const std::vector<GUID>& requested)
{
    std::vector<SortFilter> order;
    GrowOrRaise([&] { order.reserve(candidates.size()); });
    // The exact-match test runs once per candidate here, never inside the comparison.
    for (CGraphFilter* candidate : candidates)
        order.push_back({candidate, candidate->CheckTypesExact(requested)});
    if (order.size() > 1)
        std::qsort(order.data(), order.size(), sizeof(SortFilter), &SortFilterCompare);
    return order;
}
