// The packet queue between the read thread and a decoder: a FIFO of demuxed packets with its own
// mutex and condition, a byte count that bounds the read thread, and the flush marker that tells
// the consumer to flush its decoder after a seek.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

struct AVPacket;

class TPacketQueue {
public:
    // Bytes accounted per queued packet on top of its data (the node and the packet record).
    static const int kNodeBytes;

    TPacketQueue() = default;
    ~TPacketQueue();
    TPacketQueue(const TPacketQueue&) = delete;
    TPacketQueue& operator=(const TPacketQueue&) = delete;

    // Empties the queue, clears the abort flag and remembers the flush marker (a packet that is
    // queued as itself, never copied or freed by the queue).
    void Init(const AVPacket* flushMarker);

    // Appends a packet. Its data passes to the queue (the caller's packet is left blank and may be
    // reused); the flush marker is queued as itself. Returns 0, or -1 when no memory is left (the
    // caller's packet then still owns its data).
    int Put(AVPacket* packet);

    // Takes the oldest packet into `packet` (which must be blank; its data passes to the caller).
    // Returns 1 when a packet was taken, 0 when none is queued and `block` is false, -1 once the
    // queue is aborted. A blocking call waits until a packet arrives or the queue is aborted.
    // A flush marker comes out as a packet without buffer whose data pointer is the marker's.
    int Get(AVPacket* packet, bool block);

    // Frees every queued packet (not the marker); the abort flag stays as it is.
    void Flush();
    // Sets the abort flag for good and wakes a waiting reader.
    void Abort();
    // Flush; the queue is unusable afterwards until Init.
    void End() { Flush(); }

    bool IsFlushMarker(const AVPacket* packet) const;
    bool Aborted() const { return FAbort.load(std::memory_order_acquire); }
    int Count() const;
    int64_t Size() const;

private:
    struct TNode {
        AVPacket* Packet; // owned, or the flush marker itself
        TNode* Next;
    };

    void FreeNode(TNode* node);

    mutable std::mutex FLock;       // guards every field below except FAbort and FFlushMarker
    std::condition_variable FReady; // signalled on Put and Abort
    TNode* FFirst = nullptr;
    TNode* FLast = nullptr;
    int FCount = 0;
    int64_t FSize = 0;                      // data bytes + kNodeBytes per packet
    std::atomic<bool> FAbort{false};        // written under FLock; read without it by the audio callback
    const AVPacket* FFlushMarker = nullptr; // set by Init before any other thread uses the queue
};
