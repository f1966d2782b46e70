#include "net/filelist.h"

#include <cstring>

#include "net/budget.h"

namespace {

// The room of a block that must grow: half as much again as it has, at least what is
// needed and at least a first step, so that a list of n entries grows O(log n) times.
size_t GrownRoom(size_t nRoom, size_t nNeeded, size_t nFirst)
{
    size_t nNew = nRoom + nRoom / 2;
    if (nNew < nFirst)
        nNew = nFirst;
    return nNew < nNeeded ? nNeeded : nNew;
}

// The names block stays addressable by the 32-bit offsets.
constexpr size_t kMaxNamesBytes = UINT32_MAX;

}  // namespace

template <typename T>
bool CFileList::Resize(std::unique_ptr<T, CFree>& p, size_t& nRoom, size_t nNewRoom)
{
    const uint64_t ullOld = static_cast<uint64_t>(nRoom) * sizeof(T);
    const uint64_t ullNew = static_cast<uint64_t>(nNewRoom) * sizeof(T);
    if (ullNew > ullOld && m_pBudget != nullptr && !m_pBudget->Take(ullNew - ullOld))
        return false;
    T* pNew = nNewRoom == 0 ? nullptr : static_cast<T*>(std::realloc(p.get(), static_cast<size_t>(ullNew)));
    if (nNewRoom != 0 && pNew == nullptr) {
        if (ullNew > ullOld && m_pBudget != nullptr)
            m_pBudget->Give(ullNew - ullOld);
        return false;  // the old block is still held
    }
    if (nNewRoom == 0) {
        p.reset();
    } else {
        static_cast<void>(p.release());  // realloc freed the old block, or it is pNew itself
        p.reset(pNew);
    }
    nRoom = nNewRoom;
    if (ullOld > ullNew && m_pBudget != nullptr)
        m_pBudget->Give(ullOld - ullNew);
    return true;
}

bool CFileList::push_back(std::string_view strName)
{
    const size_t nNames = m_nNamesUsed + strName.size() + 1;
    if (strName.size() >= kMaxNamesBytes || nNames > kMaxNamesBytes)
        return false;
    if (nNames > m_nNamesRoom && !Resize(m_pNames, m_nNamesRoom, GrownRoom(m_nNamesRoom, nNames, 4096)))
        return false;
    if (m_nCount == m_nOffsetsRoom && !Resize(m_pOffsets, m_nOffsetsRoom, GrownRoom(m_nOffsetsRoom, m_nCount + 1, 256)))
        return false;  // the names block may keep its new room: it is charged as held
    m_pOffsets.get()[m_nCount++] = static_cast<uint32_t>(m_nNamesUsed);
    memcpy(m_pNames.get() + m_nNamesUsed, strName.data(), strName.size());
    m_pNames.get()[nNames - 1] = '\0';
    m_nNamesUsed = nNames;
    return true;
}

void CFileList::clear()
{
    Resize(m_pNames, m_nNamesRoom, 0);
    Resize(m_pOffsets, m_nOffsetsRoom, 0);
    m_nNamesUsed = 0;
    m_nCount = 0;
}

void CFileList::shrink_to_fit()
{
    // A shrink in place needs no more room; should the allocator fail it, the list keeps
    // the room it has, charged as before.
    if (m_nNamesRoom > m_nNamesUsed)
        Resize(m_pNames, m_nNamesRoom, m_nNamesUsed);
    if (m_nOffsetsRoom > m_nCount)
        Resize(m_pOffsets, m_nOffsetsRoom, m_nCount);
}
