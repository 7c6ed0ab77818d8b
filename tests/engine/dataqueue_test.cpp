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
    int value() const   // from the payload: a buffer handed out twice would show
    {
        int v = 0;
        std::memcpy(&v, m_Buffer, sizeof(v));
        return v;
    }
};

TEST(DataQueue, KeepsOrderAndBoundsThePacketsThePoolAndThePayloads)
{
    DataQueue queue;
    queue.init(sizeof(int), 31);
    EXPECT_EQ(queue.take(), nullptr);
    for (int i = 0; i < 32; ++i)   // the last finds no room: destroyed at once, its buffer pooled
        queue.put(new CountedPacket(&queue, i));
    queue.put(nullptr);
    EXPECT_TRUE(queue.isFull());
    EXPECT_EQ(g_livePackets.load(), 31);
    for (int i = 0; i < 5; ++i) {
        auto *p = static_cast<CountedPacket *>(queue.take());
        EXPECT_EQ(p->value(), i);
        delete p;
    }
    queue.flush();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(g_livePackets.load(), 0);

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
}

TEST(DataQueue, ReportsUseBeforeInitAndCarriesOn)
{
    testsupport::MessageLog messages;
    {
        DataQueue checked;
        EXPECT_EQ(checked.take(), nullptr);
        checked.put(new CountedPacket(&checked, 1));   // capacity 0: destroyed, nothing leaks
        EXPECT_EQ(g_livePackets.load(), 0);
    }
    ASSERT_GE(messages.lines().size(), 2);
    EXPECT_TRUE(messages.lines()[0].startsWith("Assertion 'm_Data' failed. File=./dataqueue Line="))
        << messages.lines()[0].toStdString();
    messages.clear();
    DataQueue unchecked(false);
    EXPECT_EQ(unchecked.take(), nullptr);
    EXPECT_TRUE(unchecked.isFull());
    EXPECT_TRUE(messages.lines().isEmpty());
}

TEST(DataQueue, OneProducerOneConsumerLoseAndDuplicateNothing)
{
    constexpr int kPackets = 20000;
    DataQueue queue;
    queue.init(sizeof(int), 31);
    std::thread producer([&] {
        for (int i = 0; i < kPackets;) {
            if (queue.isFull())
                std::this_thread::yield();
            else
                queue.put(new CountedPacket(&queue, i++));   // only the consumer removes: it fits
        }
    });
    int outOfOrder = 0;
    for (int taken = 0; taken < kPackets;) {
        if (auto *p = static_cast<CountedPacket *>(queue.take())) {
            outOfOrder += p->value() != taken++;
            delete p;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(g_livePackets.load(), 0);
    EXPECT_LE(queue.pooled(), 31);
}

} // namespace
