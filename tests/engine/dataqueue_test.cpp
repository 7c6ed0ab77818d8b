#include "enginetestsupport.h"

#include "engine/audiopacket.h"
#include "engine/dataqueue.h"
#include "engine/pixelpacket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

// Counts live packets, so a test can tell that every packet was destroyed exactly once.
std::atomic<int> g_livePackets{0};

class CountedPacket : public PixelPacket {
public:
    CountedPacket(DataQueue *queue, int value)
        : PixelPacket(queue, reinterpret_cast<const uint8_t *>(&value), sizeof(value), value)
    {
        ++g_livePackets;
    }
    ~CountedPacket() override { --g_livePackets; }
    int value() const
    {
        int v = 0;
        std::memcpy(&v, m_Buffer, sizeof(v));
        return v;
    }
};

} // namespace

TEST(DataQueue, KeepsOrderAndBoundsThePacketsThePoolAndThePayloads)
{
    DataQueue queue;
    queue.init(sizeof(int), 31);
    EXPECT_EQ(queue.take(), nullptr);
    EXPECT_EQ(queue.peek(), nullptr);

    for (int i = 0; i < 31; ++i)
        queue.put(new CountedPacket(&queue, i));
    EXPECT_TRUE(queue.isFull());
    const int pooledBefore = queue.pooled();
    queue.put(new CountedPacket(&queue, 99));   // no room: destroyed at once, its buffer pooled
    queue.put(nullptr);
    EXPECT_EQ(g_livePackets.load(), 31);
    EXPECT_EQ(queue.count(), 31);
    EXPECT_EQ(queue.pooled(), pooledBefore + 1);

    for (int i = 0; i < 5; ++i) {
        auto *p = static_cast<CountedPacket *>(queue.take());
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->value(), i);
        delete p;
    }
    queue.flush();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(g_livePackets.load(), 0);
    EXPECT_EQ(queue.pooled(), 31);

    // The pool keeps at most one buffer per queue place, and hands the last pooled out first.
    std::vector<uint8_t *> buffers;
    for (int i = 0; i < 32; ++i)
        buffers.push_back(queue.allocBuffer(0));
    for (uint8_t *b : buffers)
        queue.releaseBuffer(b);
    queue.releaseBuffer(nullptr);
    EXPECT_EQ(queue.pooled(), 31);
    uint8_t *again = queue.allocBuffer(1);
    EXPECT_EQ(again, buffers[30]);
    queue.releaseBuffer(again);

    // A payload larger than the pool's buffers leaves the packet empty, never overrun.
    const uint8_t samples[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    AudioPacket fits(&queue, samples, 4, 1234);
    ASSERT_EQ(fits.m_Size, 4);
    EXPECT_EQ(std::memcmp(fits.m_Buffer, samples, 4), 0);
    EXPECT_DOUBLE_EQ(fits.m_Pts, 1234.0);
    AudioPacket tooBig(&queue, samples, 8, 0);
    EXPECT_EQ(tooBig.m_Buffer, nullptr);
    EXPECT_EQ(tooBig.m_Size, 0);
}

TEST(DataQueue, ReportsUseBeforeInitAndCarriesOn)
{
    enginetest::MessageCapture messages(QtDebugMsg);
    {
        DataQueue checked;
        EXPECT_EQ(checked.take(), nullptr);
        checked.put(new CountedPacket(&checked, 1));   // capacity 0: destroyed, nothing leaks
        EXPECT_EQ(g_livePackets.load(), 0);
    }
    const int checkedCount = messages.lines.size();
    {
        DataQueue unchecked(false);
        EXPECT_EQ(unchecked.take(), nullptr);
        EXPECT_TRUE(unchecked.isFull());
    }
    ASSERT_GE(checkedCount, 2);
    EXPECT_TRUE(messages.lines[0].startsWith("Assertion 'm_Data' failed. File=./dataqueue Line="))
        << messages.lines[0].toStdString();
    EXPECT_EQ(messages.lines.size(), checkedCount);   // the unchecked queue said nothing
}

TEST(DataQueue, OneProducerOneConsumerLoseAndDuplicateNothing)
{
    constexpr int kPackets = 20000;
    DataQueue queue;
    queue.init(sizeof(int), 31);
    std::atomic<bool> producerDone{false};
    std::thread producer([&] {
        for (int i = 0; i < kPackets;) {
            if (queue.isFull()) {
                std::this_thread::yield();
                continue;
            }
            queue.put(new CountedPacket(&queue, i++));   // only the consumer removes: it fits
        }
        producerDone = true;
    });
    int taken = 0;
    int outOfOrder = 0;
    while (taken < kPackets) {
        auto *p = static_cast<CountedPacket *>(queue.take());
        if (!p) {
            if (producerDone && queue.isEmpty())
                break;
            std::this_thread::yield();
            continue;
        }
        outOfOrder += p->value() != taken++;
        delete p;
    }
    producer.join();
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(taken, kPackets);
    EXPECT_EQ(g_livePackets.load(), 0);
    EXPECT_LE(queue.pooled(), 31);
}
