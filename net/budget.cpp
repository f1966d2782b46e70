#include "net/budget.h"

bool CBufferBudget::Take(uint64_t n)
{
    uint64_t ullUsed = m_ullUsed.load();
    do {
        if (n > m_ullLimit || ullUsed > m_ullLimit - n)
            return false;
    } while (!m_ullUsed.compare_exchange_weak(ullUsed, ullUsed + n));
    return true;
}
