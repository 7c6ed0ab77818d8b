#include "startalignment.h"

void StartAlignment::picture(Clip clip, double time)
{
    if (m_Settled || m_Seen[clip])
        return;
    m_Start[clip] = time;
    m_Seen[clip] = true;
    m_Settled = m_Seen[First] && m_Seen[Second];
}

void StartAlignment::seeked()
{
    if (m_Settled)
        return;
    m_Start[First] = 0.0;
    m_Start[Second] = 0.0;
    m_Settled = true;
}

double StartAlignment::relative(Clip clip, double time) const
{
    return time - start(clip);
}
