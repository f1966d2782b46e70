#include "platform/writeback.h"

namespace plat {

void CWriteBack::Advance(const CPlatFile& file, uint64_t ullDone)
{
    while (ullDone >= m_ullStarted + kStretch) {
        file.StartWriteBack(m_ullStarted, kStretch);
        if (m_ullStarted >= m_ullLag) {
            file.AwaitWriteBack(m_ullStarted - m_ullLag, kStretch);
            m_ullSinceFlush += kStretch;
        }
        m_ullStarted += kStretch;
        if (m_ullFlushEvery != 0 && m_ullSinceFlush >= m_ullFlushEvery) {
            // A failure shows again in the flush at the end, which decides.
            file.Flush();
            m_ullSinceFlush = 0;
        }
    }
}

void CWriteBack::Finish(const CPlatFile& file, uint64_t ullSize)
{
    if (ullSize > m_ullStarted)
        file.StartWriteBack(m_ullStarted, ullSize - m_ullStarted);
    m_ullStarted = ullSize;
}

}  // namespace plat
