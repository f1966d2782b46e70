// The entry list of a directory download: relative names kept back to back in one
// block, so that a tree of a hundred thousand files costs little more than its names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CFileList {
public:
    void push_back(std::string_view strName)
    {
        m_arrOffsets.push_back(static_cast<uint32_t>(m_strNames.size()));
        m_strNames.append(strName);
        m_strNames.push_back('\0');
    }
    size_t size() const { return m_arrOffsets.size(); }
    bool empty() const { return m_arrOffsets.empty(); }
    // Entry i, valid until the list changes.
    std::string_view operator[](size_t i) const
    {
        const size_t nEnd = i + 1 < m_arrOffsets.size() ? m_arrOffsets[i + 1] : m_strNames.size();
        return std::string_view(m_strNames).substr(m_arrOffsets[i], nEnd - m_arrOffsets[i] - 1);
    }
    void clear()
    {
        std::string().swap(m_strNames);
        std::vector<uint32_t>().swap(m_arrOffsets);
    }
    // Gives back the room that growing left over, once the list is complete.
    void shrink_to_fit()
    {
        m_strNames.shrink_to_fit();
        m_arrOffsets.shrink_to_fit();
    }

private:
    std::string m_strNames;              // every entry followed by a 0 byte
    std::vector<uint32_t> m_arrOffsets;  // where each entry starts
};
