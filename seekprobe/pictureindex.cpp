#include "pictureindex.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr quint64 kMul1 = 0x87c37b91114253d5ULL;
constexpr quint64 kMul2 = 0x4cf5ad432745937fULL;

quint64 rotl(quint64 x, int r) { return (x << r) | (x >> (64 - r)); }

// Spreads every input bit over the whole word (MurmurHash3's finaliser).
quint64 finish(quint64 h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    return h ^ (h >> 33);
}

} // namespace

quint64 PictureIndex::hash(const uint8_t *data, qint64 size)
{
    // Eight bytes a step, so hashing a 1080p picture costs far less than decoding it.
    quint64 h = static_cast<quint64>(size);
    qint64 i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, 8);
        h ^= rotl(word * kMul1, 31) * kMul2;
        h = rotl(h, 27) * 5 + 0x52dce729;
    }
    quint64 tail = 0;
    for (qint64 k = size - 1; k >= i; --k)
        tail = (tail << 8) | data[k];
    h ^= rotl(tail * kMul1, 31) * kMul2;
    return finish(h);
}

void PictureIndex::add(double time, bool keyFrame, quint64 hash)
{
    m_ByHash.insert(hash, m_Times.size());
    if (keyFrame) {
        ++m_KeyFrames;
        m_KeyIndices << m_Times.size();
    }
    m_Times << time;
}

PictureIndex::Match PictureIndex::match(quint64 hash, double time, double frameRate, double targetSeconds) const
{
    Match m;
    // The picture shown at a time is the one whose interval holds it; 1 ms of slack keeps a stamp
    // a hair early (time bases that do not divide the rate) on its own picture.
    m.timeIndex = frameRate > 0.0 ? static_cast<qint64>(std::floor((time + 0.001) * frameRate)) : 0;
    // Seconds count from the first picture, as the engine's seeks and the landing error count them:
    // a clip whose pictures start a little after its sound (priming) or late (an empty edit) still
    // has the picture at its first picture's time plus the target second as the one at the target.
    for (qint64 key : m_KeyIndices)
        if (m_Times.at(key) - m_Times.first() <= targetSeconds + 0.001)
            m.wantedIndex = key;
    qint64 nearestWanted = -1;   // of the equal pictures, the one nearest the wanted picture
    int equal = 0;
    for (auto it = m_ByHash.constFind(hash); it != m_ByHash.cend() && it.key() == hash; ++it) {
        ++equal;
        if (m.contentIndex < 0 || std::llabs(it.value() - m.timeIndex) < std::llabs(m.contentIndex - m.timeIndex))
            m.contentIndex = it.value();
        if (nearestWanted < 0 || std::llabs(it.value() - m.wantedIndex) < std::llabs(nearestWanted - m.wantedIndex))
            nearestWanted = it.value();
    }
    using Verdict = SeekRow::Verdict;
    if (equal == 0)
        m.verdict = Verdict::Unknown;
    else if (nearestWanted == m.wantedIndex)
        m.verdict = equal > 1 ? Verdict::Ambiguous : Verdict::Right;
    else
        m.verdict = Verdict::Wrong;
    m.distance = m.verdict == Verdict::Wrong ? nearestWanted - m.wantedIndex : 0;
    return m;
}
