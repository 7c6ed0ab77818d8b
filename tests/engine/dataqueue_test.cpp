// The packet queue's bounds and pool. (Order across the worker and the display thread, nothing
// lost or doubled, is the decode test's: every picture once, in order.)
#include "engine/audiopacket.h"
#include "engine/dataqueue.h"
#include "tests/common/messagelog.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(DataQueue, BoundsThePacketsThePoolAndThePayloadsAndReportsUseBeforeInit)
{
    DataQueue queue;
    queue.init(sizeof(int), 31);
    for (int i = 0; i < 32; ++i)   // the last finds no room: destroyed at once, its buffer pooled
        queue.put(new AudioPacket(&queue, reinterpret_cast<const uint8_t *>(&i), sizeof(i), i));
    EXPECT_TRUE(queue.isFull() && queue.count() == 31);
    auto *first = static_cast<AudioPacket *>(queue.take());
    EXPECT_EQ(first->m_Pts, 0.0);
    delete first;
    queue.flush();
    EXPECT_TRUE(queue.isEmpty() && queue.pooled() == 31);   // at most one buffer pooled per place
    DataQueue handsBack;
    handsBack.init(sizeof(int), 31, 2);   // a pool smaller than the queue frees the rest
    for (int i = 0; i < 5; ++i)
        handsBack.put(new AudioPacket(&handsBack, reinterpret_cast<const uint8_t *>(&i), sizeof(i), i));
    handsBack.flush();
    EXPECT_EQ(handsBack.pooled(), 2);

    // A payload larger than the pool's buffers leaves the packet empty, never overrun.
    const uint8_t samples[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    AudioPacket tooBig(&queue, samples, 8, 0);
    EXPECT_TRUE(tooBig.m_Buffer == nullptr && tooBig.m_Size == 0);

    // Used before init(): reported (unless the checks are off), and nothing leaks.
    testsupport::MessageLog messages;
    for (bool checks : {true, false}) {
        DataQueue unset(checks);
        EXPECT_EQ(unset.take(), nullptr);
        unset.put(new AudioPacket(&unset, samples, 4, 0));   // capacity 0: destroyed
        EXPECT_EQ(messages.lines().size() >= 2, checks);
        ASSERT_TRUE(!checks || messages.lines()[0].startsWith("Assertion 'm_Data' failed. File=./dataqueue Line="))
            << messages.lines().join('\n').toStdString();
        messages.clear();
    }
}

} // namespace
