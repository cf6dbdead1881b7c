// The packet queue between the read thread and the audio callback: order and accounting, blocking
// and non-blocking takes, flushing, aborting a waiting reader, and the flush marker that is
// passed through but never copied or freed.
#include "PacketQueue.h"
#include "MediaApi.h"
#include "TestLibs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;

namespace {

class PlayerPacketQueue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadTestLibs(PlayerLibs));
        FMarker.data = reinterpret_cast<uint8_t*>(const_cast<char*>("FLUSH"));
        FQueue.Init(&FMarker);
    }

    // A refcounted packet of `size` bytes, each byte = tag.
    AVPacket* MakePacket(int size, uint8_t tag) {
        AVPacket* packet = av::av_packet_alloc();
        EXPECT_EQ(av::av_new_packet(packet, size), 0);
        std::memset(packet->data, tag, size);
        packet->pts = tag;
        return packet;
    }

    // Puts a new packet and lets go of its shell.
    int PutNew(int size, uint8_t tag) {
        AVPacket* packet = MakePacket(size, tag);
        int rc = FQueue.Put(packet);
        av::av_packet_free(&packet);
        return rc;
    }

    AVPacket FMarker{};
    TPacketQueue FQueue;
};

TEST_F(PlayerPacketQueue, PacketsComeOutInOrderWithTheirDataAndAreAccounted) {
    for (int i = 1; i <= 3; ++i) {
        AVPacket* packet = MakePacket(100 * i, uint8_t(i));
        ASSERT_EQ(FQueue.Put(packet), 0);
        EXPECT_EQ(packet->data, nullptr) << "the queue takes the data over";
        EXPECT_EQ(packet->size, 0);
        av::av_packet_free(&packet);
    }
    EXPECT_EQ(FQueue.Count(), 3);
    EXPECT_EQ(FQueue.Size(), 600 + 3 * TPacketQueue::kNodeBytes);

    AVPacket* out = av::av_packet_alloc();
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(FQueue.Get(out, false), 1);
        ASSERT_EQ(out->size, 100 * i);
        EXPECT_EQ(out->pts, i);
        EXPECT_EQ(out->data[0], i);
        EXPECT_EQ(out->data[out->size - 1], i);
        EXPECT_NE(out->buf, nullptr) << "the caller owns what it took";
        av::av_packet_unref(out);
    }
    EXPECT_EQ(FQueue.Count(), 0);
    EXPECT_EQ(FQueue.Size(), 0);
    EXPECT_EQ(FQueue.Get(out, false), 0) << "an empty queue does not block without being asked to";
    av::av_packet_free(&out);
}

TEST_F(PlayerPacketQueue, DataThatTheCallerOwnsIsCopied) {
    uint8_t bytes[16];
    std::memset(bytes, 7, sizeof bytes);
    AVPacket* packet = av::av_packet_alloc();
    packet->data = bytes; // not refcounted: the caller may reuse its buffer after Put
    packet->size = sizeof bytes;
    ASSERT_EQ(FQueue.Put(packet), 0);
    std::memset(bytes, 0, sizeof bytes);
    AVPacket* out = av::av_packet_alloc();
    ASSERT_EQ(FQueue.Get(out, false), 1);
    ASSERT_EQ(out->size, 16);
    EXPECT_EQ(out->data[15], 7);
    av::av_packet_free(&out);
    av::av_packet_free(&packet);
}

TEST_F(PlayerPacketQueue, BlockingGetWaitsForThePutAndAbortWakesAWaiter) {
    std::atomic<int> result{99};
    AVPacket* out = av::av_packet_alloc();
    std::thread reader([&] { result = FQueue.Get(out, true); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(result.load(), 99) << "the reader must wait for a packet";
    AVPacket* packet = MakePacket(10, 5);
    FQueue.Put(packet);
    reader.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(out->pts, 5);
    av::av_packet_unref(out);

    result = 99;
    std::thread waiter([&] { result = FQueue.Get(out, true); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(result.load(), 99);
    FQueue.Abort();
    waiter.join();
    EXPECT_EQ(result.load(), -1) << "abort wakes a blocked reader";
    EXPECT_TRUE(FQueue.Aborted());

    // Aborted for good: queued packets are no longer handed out, flushing keeps the flag.
    av::av_packet_free(&packet);
    packet = MakePacket(10, 6);
    ASSERT_EQ(FQueue.Put(packet), 0);
    EXPECT_EQ(FQueue.Get(out, false), -1);
    FQueue.Flush();
    EXPECT_TRUE(FQueue.Aborted());
    EXPECT_EQ(FQueue.Get(out, true), -1);
    av::av_packet_free(&packet);
    av::av_packet_free(&out);
}

TEST_F(PlayerPacketQueue, FlushMarkerPassesThroughAndIsNeverFreed) {
    ASSERT_EQ(PutNew(20, 1), 0);
    ASSERT_EQ(FQueue.Put(&FMarker), 0);
    ASSERT_EQ(PutNew(30, 2), 0);
    EXPECT_EQ(FQueue.Count(), 3);

    AVPacket* out = av::av_packet_alloc();
    ASSERT_EQ(FQueue.Get(out, false), 1);
    EXPECT_FALSE(FQueue.IsFlushMarker(out));
    av::av_packet_unref(out);
    ASSERT_EQ(FQueue.Get(out, false), 1);
    EXPECT_TRUE(FQueue.IsFlushMarker(out));
    EXPECT_EQ(out->buf, nullptr) << "the marker comes out as a view, not as a copy";
    av::av_packet_unref(out); // harmless: the view owns nothing
    ASSERT_EQ(FQueue.Get(out, false), 1);
    EXPECT_EQ(out->pts, 2);
    av::av_packet_unref(out);

    // Flushing a queue that holds the marker frees the packets around it, not the marker.
    ASSERT_EQ(PutNew(20, 3), 0);
    ASSERT_EQ(FQueue.Put(&FMarker), 0);
    ASSERT_EQ(FQueue.Put(&FMarker), 0);
    FQueue.Flush();
    EXPECT_EQ(FQueue.Count(), 0);
    EXPECT_EQ(FQueue.Size(), 0);
    EXPECT_EQ(std::strcmp(reinterpret_cast<const char*>(FMarker.data), "FLUSH"), 0);
    EXPECT_EQ(FQueue.Get(out, false), 0);
    EXPECT_FALSE(FQueue.Aborted());

    // Packets left in a queue are freed with it (the sanitizer build checks for leaks).
    ASSERT_EQ(PutNew(40, 4), 0);
    ASSERT_EQ(FQueue.Put(&FMarker), 0);
    av::av_packet_free(&out);
}

} // namespace
