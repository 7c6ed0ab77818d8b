#include "clippairing.h"

void ClipPairing::setOffsets(int pictures1, int pictures2)
{
    m_Offset1 = pictures1;
    m_Offset2 = pictures2;
}

void ClipPairing::noteReordering(int reorder1, int reorder2)
{
    if (!m_ReorderOffsets)
        return;
    if (reorder2 != 0 && reorder1 == 0)
        m_Offset1 = 1;
    if (reorder2 == 0 && reorder1 != 0)
        m_Offset2 = 1;
}

ClipPairing::Step ClipPairing::compare(double time1, double time2) const
{
    const double picture = m_FrameInterval / 1000.0;
    const double a = time1 + m_Offset1 * picture;
    const double b = time2 + m_Offset2 * picture;
    if (b < a - m_SameInstant)
        return Step::SkipSecond;
    if (b > a + m_SameInstant)
        return Step::AdvanceFirst;
    return Step::InStep;
}

ClipPairing::Realign ClipPairing::realignAfterSeek(int reorder1, int reorder2)
{
    if (reorder2 != 0 && reorder1 == 0)
        return Realign::AdvanceSecond;
    if (reorder2 == 0 && reorder1 != 0)
        return Realign::AdvanceFirst;
    return Realign::None;
}
