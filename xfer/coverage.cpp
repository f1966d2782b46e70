#include "xfer/coverage.h"

#include <algorithm>

void CCoverage::Reset(uint64_t ullSize)
{
    m_ullSize = ullSize;
    m_ullFront = 0;
    m_Ranges.clear();
}

bool CCoverage::CanAdd(uint64_t ullOffset, uint64_t ullCount) const
{
    if (ullOffset <= m_ullFront || m_Ranges.size() < kMaxRanges)
        return true;
    // Full: only a block that joins a range already kept (touching counts) is recorded.
    const uint64_t ullEnd = ullOffset + ullCount;
    auto it = std::lower_bound(m_Ranges.begin(), m_Ranges.end(), std::make_pair(ullOffset, uint64_t{0}));
    if (it != m_Ranges.end() && it->first <= ullEnd)
        return true;
    return it != m_Ranges.begin() && std::prev(it)->second >= ullOffset;
}

void CCoverage::Add(uint64_t ullOffset, uint64_t ullCount)
{
    const uint64_t ullEnd = ullOffset + ullCount;
    if (ullOffset <= m_ullFront) {
        m_ullFront = std::max(m_ullFront, ullEnd);
        // The ranges the front now reaches become part of it.
        auto it = m_Ranges.begin();
        while (it != m_Ranges.end() && it->first <= m_ullFront) {
            m_ullFront = std::max(m_ullFront, it->second);
            ++it;
        }
        m_Ranges.erase(m_Ranges.begin(), it);
        return;
    }
    // Every kept range that overlaps or touches the block is merged into it.
    auto first = std::lower_bound(m_Ranges.begin(), m_Ranges.end(), std::make_pair(ullOffset, uint64_t{0}));
    if (first != m_Ranges.begin() && std::prev(first)->second >= ullOffset)
        --first;
    auto last = first;
    uint64_t ullStart = ullOffset, ullStop = ullEnd;
    while (last != m_Ranges.end() && last->first <= ullStop) {
        ullStart = std::min(ullStart, last->first);
        ullStop = std::max(ullStop, last->second);
        ++last;
    }
    if (first == last) {
        m_Ranges.insert(first, {ullStart, ullStop});
        return;
    }
    *first = {ullStart, ullStop};
    m_Ranges.erase(first + 1, last);
}
