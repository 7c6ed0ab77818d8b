// The packet queue's bounds and pool. (Order across the worker and the display thread, nothing
// lost or doubled, is the decode test's: every picture once, in order.)
#include "engine/audiopacket.h"
#include "engine/dataqueue.h"
#include "engine/pixelpacket.h"
#include "tests/common/messagelog.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Counts live packets, so a test can tell that every packet was destroyed exactly once.
int g_livePackets = 0;

struct CountedPacket : PixelPacket {
    CountedPacket(DataQueue *queue, int value)
        : PixelPacket(queue, reinterpret_cast<const uint8_t *>(&value), sizeof(value), value)
    {
        ++g_livePackets;
    }
    ~CountedPacket() override { --g_livePackets; }
    int value() const { return *reinterpret_cast<const int *>(m_Buffer); }   // a buffer handed out twice shows
};

TEST(DataQueue, KeepsOrderBoundsThePacketsThePoolAndThePayloadsAndReportsUseBeforeInit)
{
    DataQueue queue;
    queue.init(sizeof(int), 31);
    EXPECT_EQ(queue.take(), nullptr);
    for (int i = 0; i < 32; ++i)   // the last finds no room: destroyed at once, its buffer pooled
        queue.put(new CountedPacket(&queue, i));
    queue.put(nullptr);
    EXPECT_TRUE(queue.isFull());
    EXPECT_EQ(g_livePackets, 31);
    for (int i = 0; i < 5; ++i) {
        auto *p = static_cast<CountedPacket *>(queue.take());
        EXPECT_EQ(p->value(), i);
        delete p;
    }
    queue.flush();
    EXPECT_TRUE(queue.isEmpty() && g_livePackets == 0);

    // The pool keeps at most one buffer per queue place, and hands the last pooled out first.
    std::vector<uint8_t *> buffers;
    for (int i = 0; i < 32; ++i)
        buffers.push_back(queue.allocBuffer(0));
    for (uint8_t *b : buffers)
        queue.releaseBuffer(b);
    queue.releaseBuffer(nullptr);
    EXPECT_EQ(queue.pooled(), 31);
    EXPECT_EQ(queue.allocBuffer(1), buffers[30]);
    queue.releaseBuffer(buffers[30]);

    // A payload larger than the pool's buffers leaves the packet empty, never overrun.
    const uint8_t samples[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    AudioPacket fits(&queue, samples, 4, 1234);
    EXPECT_TRUE(fits.m_Size == 4 && std::memcmp(fits.m_Buffer, samples, 4) == 0 && fits.m_Pts == 1234.0);
    AudioPacket tooBig(&queue, samples, 8, 0);
    EXPECT_TRUE(tooBig.m_Buffer == nullptr && tooBig.m_Size == 0);

    // Used before init(): reported (unless the checks are off), and nothing leaks.
    testsupport::MessageLog messages;
    for (bool checks : {true, false}) {
        DataQueue unset(checks);
        EXPECT_EQ(unset.take(), nullptr);
        unset.put(new CountedPacket(&unset, 1));   // capacity 0: destroyed
        EXPECT_EQ(g_livePackets, 0);
        EXPECT_EQ(messages.lines().size() >= 2, checks);
        ASSERT_TRUE(!checks || messages.lines()[0].startsWith("Assertion 'm_Data' failed. File=./dataqueue Line="))
            << messages.lines().join('\n').toStdString();
        messages.clear();
    }
}

} // namespace
