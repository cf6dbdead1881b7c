#include "OggPages.h"

#include "LosslessTexts.h"

#include <array>
#include <cstring>

namespace {

constexpr size_t kHeaderBytes = 27;
constexpr uint8_t kContinued = 0x01, kBeginning = 0x02, kEnd = 0x04;
constexpr size_t kPageTarget = 4096; // body bytes a written page fills up to
constexpr size_t kResyncWindow = 1 << 16;

// The checksum's tables for eight bytes at a time: table k gives the checksum of a byte followed
// by k zero bytes.
const std::array<std::array<uint32_t, 256>, 8>& ChecksumTables() {
    static const std::array<std::array<uint32_t, 256>, 8> tables = [] {
        std::array<std::array<uint32_t, 256>, 8> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int b = 0; b < 8; ++b)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[0][i] = r;
        }
        for (size_t k = 1; k < 8; ++k)
            for (uint32_t i = 0; i < 256; ++i)
                t[k][i] = t[k - 1][i] << 8 ^ t[0][t[k - 1][i] >> 24];
        return t;
    }();
    return tables;
}

int64_t ReadLE64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return int64_t(v);
}

} // namespace

uint32_t OggChecksum(const uint8_t* data, size_t size) {
    const auto& t = ChecksumTables();
    uint32_t crc = 0;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const uint8_t* p = data + i;
        crc ^= uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        crc = t[7][crc >> 24] ^ t[6][(crc >> 16) & 0xFF] ^ t[5][(crc >> 8) & 0xFF] ^ t[4][crc & 0xFF] ^
              t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; i < size; ++i)
        crc = crc << 8 ^ t[0][(crc >> 24 ^ data[i]) & 0xFF];
    return crc;
}

// ---- Reading -----------------------------------------------------------------------------------

void TOggPacketReader::Start(int64_t pageOffset, int skip, int64_t firstIndex) {
    FAt = pageOffset;
    FEnded = false;
    FLacing.clear();
    FSegment = 0;
    FDropContinued = true;
    FSkip = skip;
    FIndex = firstIndex;
    Problem.clear();
}

// Reads the page at FAt; past junk, the next page whose checksum holds. Pages must belong to the
// stream of the first page read.
bool TOggPacketReader::NextPage() {
    bool resyncing = false;
    while (FAt + int64_t(kHeaderBytes) <= FReader.Size()) {
        uint8_t h[kHeaderBytes + 255];
        bool page = FReader.Read(FAt, kHeaderBytes, h) && std::memcmp(h, "OggS", 4) == 0 && h[4] == 0 &&
                    FReader.Read(FAt, kHeaderBytes + h[26], h);
        size_t bodyBytes = 0;
        if (page) {
            for (int i = 0; i < h[26]; ++i)
                bodyBytes += h[kHeaderBytes + size_t(i)];
            size_t headBytes = kHeaderBytes + h[26];
            std::vector<uint8_t> whole(headBytes + bodyBytes);
            page = FReader.Read(FAt, whole.size(), whole.data());
            if (page) {
                uint32_t stored = ReadLE32(&whole[22]);
                std::memset(&whole[22], 0, 4);
                if (OggChecksum(whole.data(), whole.size()) != stored) {
                    if (!resyncing) {
                        Problem = LosslessText::kOggDamaged;
                        return false;
                    }
                    page = false;
                } else {
                    FBody.assign(whole.begin() + int64_t(headBytes), whole.end());
                }
            }
        }
        if (!page) {
            if (!resyncing && FAt + int64_t(kHeaderBytes) > FReader.Size()) break;
            // Junk between pages: look for the next capture pattern.
            resyncing = true;
            size_t available = 0;
            const uint8_t* p = FReader.Peek(FAt + 1, kResyncWindow, available);
            int64_t found = -1;
            for (size_t i = 0; p && i + 4 <= available && found < 0; ++i)
                if (std::memcmp(p + i, "OggS", 4) == 0) found = FAt + 1 + int64_t(i);
            int64_t next = found >= 0 ? found : FAt + 1 + int64_t(available > 3 ? available - 3 : available);
            SkippedBytes += next - FAt;
            FAt = next;
            if (available == 0) break;
            continue;
        }
        uint32_t serial = ReadLE32(h + 14);
        if (!FHaveSerial) {
            Serial = serial;
            FHaveSerial = true;
        } else if (serial != Serial) {
            Problem = LosslessText::kOggMultiplexed;
            return false;
        }
        FPageOffset = FAt;
        FFlags = h[5];
        FGranule = ReadLE64(h + 6);
        FLacing.assign(h + kHeaderBytes, h + kHeaderBytes + h[26]);
        FSegment = 0;
        FBodyAt = 0;
        FOrdinal = 0;
        FAt += int64_t(kHeaderBytes + h[26] + bodyBytes);
        return true;
    }
    return false;
}

bool TOggPacketReader::Next(TOggPacket& packet) {
    packet.Data.clear();
    bool begun = false;
    while (true) {
        if (FSegment >= FLacing.size()) {
            if (FEnded || (FLacing.size() > 0 && (FFlags & kEnd))) {
                // Another stream chained after this one is part of the file's audio too.
                uint8_t next[4];
                if (!FEnded && FReader.Read(FAt, 4, next) && std::memcmp(next, "OggS", 4) == 0)
                    Problem = LosslessText::kOggMultiplexed;
                FEnded = true;
                return false;
            }
            if (!NextPage()) {
                FEnded = true;
                return false;
            }
            bool continued = FFlags & kContinued;
            if (begun && !continued) {
                Problem = LosslessText::kOggDamaged; // a packet broken off between pages
                return false;
            }
            if (!begun) FDropContinued = FDropContinued && continued;
            if (!continued) FDropContinued = false;
            continue;
        }
        if (!begun && !FDropContinued) {
            packet.StartPage = FPageOffset;
            packet.StartOrdinal = FOrdinal++;
            begun = true;
        }
        uint8_t lace = FLacing[FSegment++];
        if (begun)
            packet.Data.insert(packet.Data.end(), FBody.begin() + int64_t(FBodyAt),
                               FBody.begin() + int64_t(FBodyAt + lace));
        FBodyAt += lace;
        if (lace == 255) continue;
        if (!begun) { // the end of a packet continued from the page before Start()'s
            FDropContinued = false;
            continue;
        }
        bool lastOnPage = true;
        for (size_t i = FSegment; i < FLacing.size(); ++i)
            if (FLacing[i] < 255) lastOnPage = false;
        packet.Granule = lastOnPage ? FGranule : -1;
        packet.LastOnEos = lastOnPage && (FFlags & kEnd);
        if (FSkip > 0) {
            --FSkip;
            packet.Data.clear();
            begun = false;
            continue;
        }
        packet.Index = FIndex++;
        return true;
    }
}

// ---- Writing -----------------------------------------------------------------------------------

void TOggPageWriter::Packet(const uint8_t* data, size_t size, int64_t granule) {
    if (!Hold && FBody.size() >= kPageTarget) EmitPage(false);
    size_t at = 0;
    while (true) {
        if (FLacing.size() == 255) {
            EmitPage(false);
            FContinued = at > 0;
        }
        size_t chunk = std::min<size_t>(255, size - at);
        FLacing.push_back(uint8_t(chunk));
        FBody.insert(FBody.end(), data + at, data + at + chunk);
        at += chunk;
        if (chunk < 255) break;
    }
    FGranule = granule;
}

bool FinishOggCopy(TOggPageWriter& pages, TByteWriter& out, const TOggPacketReader& packets, bool complete,
                   std::string& error) {
    pages.Finish();
    bool closed = out.Close(error);
    if (!complete && closed)
        error = packets.Problem.empty() ? "the input changed while it was copied" : packets.Problem;
    return complete && closed;
}

void TOggPageWriter::Headers(const std::vector<std::vector<uint8_t>>& headers) {
    for (size_t i = 0; i < headers.size(); ++i) {
        Packet(headers[i].data(), headers[i].size(), 0);
        if (i == 0 || i + 1 == headers.size()) Flush();
    }
}

void TOggPageWriter::Flush() {
    if (!FLacing.empty()) EmitPage(false);
}

void TOggPageWriter::Finish() {
    Flush();
    if (FPending.empty()) return;
    FPending[5] |= kEnd;
    std::memset(&FPending[22], 0, 4);
    WriteLE32(&FPending[22], OggChecksum(FPending.data(), FPending.size()));
    WritePending();
}

void TOggPageWriter::EmitPage(bool eos) {
    WritePending();
    FPending.assign(kHeaderBytes, 0);
    std::memcpy(FPending.data(), "OggS", 4);
    FPending[5] = uint8_t((FContinued ? kContinued : 0) | (FFirst ? kBeginning : 0) | (eos ? kEnd : 0));
    uint64_t granule = uint64_t(FGranule);
    for (int i = 0; i < 8; ++i)
        FPending[6 + size_t(i)] = uint8_t(granule >> (8 * i));
    WriteLE32(&FPending[14], FSerial);
    WriteLE32(&FPending[18], FSequence++);
    FPending[26] = uint8_t(FLacing.size());
    FPending.insert(FPending.end(), FLacing.begin(), FLacing.end());
    FPending.insert(FPending.end(), FBody.begin(), FBody.end());
    WriteLE32(&FPending[22], OggChecksum(FPending.data(), FPending.size()));
    FLacing.clear();
    FBody.clear();
    FGranule = -1;
    FContinued = false;
    FFirst = false;
}

void TOggPageWriter::WritePending() {
    if (!FPending.empty()) FOut.Write(FPending.data(), FPending.size());
    FPending.clear();
}
