#include "engine/audiopacket.h"
#include "engine/dataqueue.h"
#include "engine/pixelpacket.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <atomic>
#include <cstring>
#include <set>
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

QStringList *g_messages = nullptr;
void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (g_messages)
        g_messages->append(message);
}

} // namespace

TEST(DataQueue, PoolRecyclesLastInFirstOutAndFreesBeyondCapacity)
{
    DataQueue queue;
    queue.init(64, 31);
    EXPECT_EQ(queue.allocBuffer(65), nullptr);           // larger than the pool's buffers
    uint8_t *empty = queue.allocBuffer(0);                // a whole buffer all the same
    ASSERT_NE(empty, nullptr);
    std::memset(empty, 0xab, 64);                         // writable over its full size
    queue.releaseBuffer(empty);
    EXPECT_EQ(queue.pooled(), 1);
    EXPECT_EQ(queue.allocBuffer(10), empty);              // reused
    queue.releaseBuffer(empty);
    queue.releaseBuffer(nullptr);                         // ignored
    EXPECT_EQ(queue.pooled(), 1);

    std::vector<uint8_t *> buffers;
    for (int i = 0; i < 32; ++i)
        buffers.push_back(queue.allocBuffer(64));
    for (uint8_t *b : buffers)
        queue.releaseBuffer(b);
    EXPECT_EQ(queue.pooled(), 31);                        // the 32nd was freed, not pooled
    uint8_t *again = queue.allocBuffer(1);
    EXPECT_EQ(again, buffers[30]);                        // last pooled comes back first
    queue.releaseBuffer(again);
}

TEST(DataQueue, PutTakePeekKeepOrderAndAFullPutDestroysThePacket)
{
    DataQueue queue;
    queue.init(sizeof(int), 31);
    EXPECT_EQ(queue.take(), nullptr);
    EXPECT_EQ(queue.peek(), nullptr);
    EXPECT_TRUE(queue.isEmpty());

    for (int i = 0; i < 31; ++i)
        queue.put(new CountedPacket(&queue, i));
    EXPECT_TRUE(queue.isFull());
    EXPECT_EQ(g_livePackets.load(), 31);
    EXPECT_EQ(queue.peek(), queue.peek());

    const int pooledBefore = queue.pooled();
    queue.put(new CountedPacket(&queue, 99));             // no room: destroyed at once
    EXPECT_EQ(g_livePackets.load(), 31);
    EXPECT_EQ(queue.count(), 31);
    EXPECT_EQ(queue.pooled(), pooledBefore + 1);          // its buffer went back to the pool
    queue.put(nullptr);

    for (int i = 0; i < 5; ++i) {
        auto *p = static_cast<CountedPacket *>(queue.take());
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->value(), i);
        EXPECT_DOUBLE_EQ(p->m_Time, i);
        delete p;
    }
    queue.flush();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(g_livePackets.load(), 0);
    EXPECT_EQ(queue.pooled(), 31);                        // a flushed full queue leaves a full pool
    queue.flush();                                        // empty flush does nothing
    EXPECT_EQ(queue.pooled(), 31);
}

TEST(DataQueue, AudioPacketCopiesItsPayloadAndAnOversizedOneStaysEmpty)
{
    DataQueue queue;
    queue.init(8, 4);
    const uint8_t samples[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    AudioPacket fits(&queue, samples, 8, 1234);
    ASSERT_NE(fits.m_Buffer, nullptr);
    EXPECT_EQ(fits.m_Size, 8);
    EXPECT_EQ(std::memcmp(fits.m_Buffer, samples, 8), 0);
    EXPECT_EQ(fits.m_Played, 0);
    EXPECT_DOUBLE_EQ(fits.m_Pts, 1234.0);

    const uint8_t big[16] = {};
    AudioPacket tooBig(&queue, big, 16, 0);
    EXPECT_EQ(tooBig.m_Buffer, nullptr);
    EXPECT_EQ(tooBig.m_Size, 0);
}

TEST(DataQueue, ReportsUseBeforeInitAndCarriesOn)
{
    QStringList messages;
    g_messages = &messages;
    QtMessageHandler previous = qInstallMessageHandler(collect);
    {
        DataQueue checked;
        EXPECT_EQ(checked.take(), nullptr);
        checked.put(new CountedPacket(&checked, 1));      // capacity 0: destroyed, nothing leaks
        EXPECT_EQ(g_livePackets.load(), 0);
    }
    const int checkedCount = messages.size();
    {
        DataQueue unchecked(false);
        EXPECT_EQ(unchecked.take(), nullptr);
        EXPECT_TRUE(unchecked.isFull());
    }
    qInstallMessageHandler(previous);
    g_messages = nullptr;

    ASSERT_GE(checkedCount, 2);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Assertion 'm_Data' failed. File=./dataqueue Line=")))
        << messages[0].toStdString();
    EXPECT_EQ(messages.size(), checkedCount);             // the unchecked queue said nothing
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
            queue.put(new CountedPacket(&queue, i));      // only the consumer removes: it fits
            ++i;
        }
        producerDone = true;
    });

    int expected = 0;
    bool inOrder = true;
    while (expected < kPackets) {
        auto *p = static_cast<CountedPacket *>(queue.take());
        if (!p) {
            if (producerDone && queue.isEmpty())
                break;
            std::this_thread::yield();
            continue;
        }
        if (p->value() != expected)
            inOrder = false;
        ++expected;
        delete p;
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(expected, kPackets);
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(g_livePackets.load(), 0);
    EXPECT_LE(queue.pooled(), 31);
}
