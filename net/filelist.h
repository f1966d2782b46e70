// The entry list of a directory download: relative names kept back to back in one
// block, so that a tree of a hundred thousand files costs little more than its names.
// The room the list holds (names, their 0 bytes and an offset per entry) is charged to
// the transfer budget, so that lists and transfer buffers together stay within it.
// Used by its session's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

class CBufferBudget;

class CFileList {
public:
    CFileList() = default;
    ~CFileList() { clear(); }
    CFileList(const CFileList&) = delete;
    CFileList& operator=(const CFileList&) = delete;

    // The budget the list's room is charged to (null: no limit but the 4 GiB its offsets
    // can address). Set while the list is empty; it must outlive the list's room.
    void SetBudget(CBufferBudget* pBudget) { m_pBudget = pBudget; }

    // Appends an entry. False, with the list unchanged, when the room it needs is not
    // to be had: the budget (with every session's buffers) or the memory is short.
    bool push_back(std::string_view strName);
    size_t size() const { return m_nCount; }
    bool empty() const { return m_nCount == 0; }
    // Entry i, valid until the list changes.
    std::string_view operator[](size_t i) const
    {
        const size_t nEnd = i + 1 < m_nCount ? m_pOffsets.get()[i + 1] : m_nNamesUsed;
        return std::string_view(m_pNames.get() + m_pOffsets.get()[i], nEnd - m_pOffsets.get()[i] - 1);
    }
    // Frees the room and gives its charge back.
    void clear();
    // Gives back the room that growing left over, once the list is complete.
    void shrink_to_fit();

private:
    struct CFree {
        void operator()(void* p) const { std::free(p); }
    };
    // Sets the room of a block to nRoom elements of nElem bytes (its first nUsed kept),
    // charging or giving back the difference. Resized in place where the allocator can
    // (a large block is remapped, not copied). False, nothing changed, when it cannot.
    template <typename T>
    bool Resize(std::unique_ptr<T, CFree>& p, size_t& nRoom, size_t nNewRoom);

    std::unique_ptr<char, CFree> m_pNames;  // every entry followed by a 0 byte
    size_t m_nNamesUsed = 0;
    size_t m_nNamesRoom = 0;
    std::unique_ptr<uint32_t, CFree> m_pOffsets;  // where each entry starts
    size_t m_nCount = 0;
    size_t m_nOffsetsRoom = 0;
    CBufferBudget* m_pBudget = nullptr;
};
