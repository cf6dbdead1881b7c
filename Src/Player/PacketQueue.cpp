#include "PacketQueue.h"

#include "MediaApi.h"

#include <new>

const int TPacketQueue::kNodeBytes = static_cast<int>(sizeof(TNode) + sizeof(AVPacket));

TPacketQueue::~TPacketQueue() {
    Flush();
}

void TPacketQueue::Init(const AVPacket* flushMarker) {
    Flush();
    std::lock_guard<std::mutex> guard(FLock);
    FAbort.store(false, std::memory_order_release);
    FFlushMarker = flushMarker;
}

bool TPacketQueue::IsFlushMarker(const AVPacket* packet) const {
    return FFlushMarker && packet && packet->data && packet->data == FFlushMarker->data;
}

int TPacketQueue::Put(AVPacket* packet) {
    TNode* node = new (std::nothrow) TNode{nullptr, nullptr};
    if (!node) return -1;
    if (packet == FFlushMarker) {
        node->Packet = packet;
    } else {
        node->Packet = av::av_packet_alloc();
        // A reference to refcounted data, a copy of data that is not; then the caller lets go.
        if (!node->Packet || av::av_packet_ref(node->Packet, packet) < 0) {
            av::av_packet_free(&node->Packet);
            delete node;
            return -1;
        }
        av::av_packet_unref(packet);
    }
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (FLast)
            FLast->Next = node;
        else
            FFirst = node;
        FLast = node;
        ++FCount;
        FSize += node->Packet->size + kNodeBytes;
    }
    FReady.notify_one();
    return 0;
}

int TPacketQueue::Get(AVPacket* packet, bool block) {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        if (FAbort.load(std::memory_order_relaxed)) return -1;
        if (TNode* node = FFirst) {
            FFirst = node->Next;
            if (!FFirst) FLast = nullptr;
            --FCount;
            FSize -= node->Packet->size + kNodeBytes;
            lock.unlock();
            if (node->Packet == FFlushMarker) {
                packet->data = FFlushMarker->data;
                packet->size = FFlushMarker->size;
                packet->stream_index = FFlushMarker->stream_index;
            } else {
                av::av_packet_move_ref(packet, node->Packet);
                av::av_packet_free(&node->Packet);
            }
            delete node;
            return 1;
        }
        if (!block) return 0;
        FReady.wait(lock);
    }
}

void TPacketQueue::FreeNode(TNode* node) {
    if (node->Packet != FFlushMarker) av::av_packet_free(&node->Packet);
    delete node;
}

void TPacketQueue::Flush() {
    TNode* list;
    {
        std::lock_guard<std::mutex> guard(FLock);
        list = FFirst;
        FFirst = FLast = nullptr;
        FCount = 0;
        FSize = 0;
    }
    while (list) {
        TNode* next = list->Next;
        FreeNode(list);
        list = next;
    }
}

void TPacketQueue::Abort() {
    {
        std::lock_guard<std::mutex> guard(FLock);
        FAbort.store(true, std::memory_order_release);
    }
    FReady.notify_all();
}

int TPacketQueue::Count() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FCount;
}

int64_t TPacketQueue::Size() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FSize;
}
