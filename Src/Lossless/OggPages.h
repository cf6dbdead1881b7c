// Ogg pages of one logical stream: a packet reader that walks the pages of a file (checksums
// checked, junk between pages skipped) and a writer that lays packets out on new pages with
// their granule positions.
#pragma once

#include "ByteFile.h"

#include <cstdint>
#include <string>
#include <vector>

struct TOggPacket {
    std::vector<uint8_t> Data;
    int64_t Index = -1;     // packets of the stream counted from 0 (from Start()'s packet on)
    int64_t StartPage = 0;  // offset of the page the packet begins on
    int StartOrdinal = 0;   // packets that begin on that page before this one
    int64_t Granule = -1;   // the granule of the page it ends on, when it is that page's last packet
    bool LastOnEos = false; // it ends the stream's last page
};

class TOggPacketReader {
public:
    explicit TOggPacketReader(TByteReader& reader) : FReader(reader) {}
    // Reads from the page at `pageOffset`, skipping the end of a packet continued from the page
    // before and `skip` packets; the first packet read gets Index `firstIndex`.
    void Start(int64_t pageOffset, int skip = 0, int64_t firstIndex = 0);
    // The next packet; false at the stream's end or when Problem says what stopped the walk.
    bool Next(TOggPacket& packet);

    std::string Problem; // a sentence without a final full stop; empty at a clean end
    uint32_t Serial = 0; // the stream's, from the first page read
    int64_t SkippedBytes = 0;

private:
    bool NextPage();

    TByteReader& FReader;
    int64_t FAt = 0; // offset of the next page to read
    bool FHaveSerial = false;
    bool FEnded = false;
    // The current page.
    int64_t FPageOffset = 0;
    uint8_t FFlags = 0;
    int64_t FGranule = -1;
    std::vector<uint8_t> FLacing;
    std::vector<uint8_t> FBody;
    size_t FSegment = 0, FBodyAt = 0;
    int FOrdinal = 0; // packets begun on the current page
    bool FDropContinued = false;
    int64_t FIndex = 0;
    int FSkip = 0;
};

class TOggPageWriter {
public:
    TOggPageWriter(TByteWriter& out, uint32_t serial) : FOut(out), FSerial(serial) {}
    // Adds a packet completed at `granule`. Pages fill to about 4 KiB unless Hold is set.
    void Packet(const uint8_t* data, size_t size, int64_t granule);
    // Ends the current page (the next packet begins a new one).
    void Flush();
    // Writes the last page with the end-of-stream flag.
    void Finish();
    // The codec headers that begin a stream: the first alone on its page, the last ending a page,
    // so that the audio packets begin on a page of their own.
    void Headers(const std::vector<std::vector<uint8_t>>& headers);

    bool Hold = false; // keep the next packets on the current page

private:
    void EmitPage(bool eos);
    void WritePending();

    TByteWriter& FOut;
    uint32_t FSerial;
    uint32_t FSequence = 0;
    std::vector<uint8_t> FLacing, FBody;
    int64_t FGranule = -1;
    bool FContinued = false; // the current page begins inside a packet
    bool FFirst = true;
    std::vector<uint8_t> FPending; // the last finished page, written when the next one begins
};

// Ends a copy: the last page written with the end-of-stream flag, the output closed. False with
// the reason when the output fails or the copy did not `complete` (the reader's problem, or the
// input changed while it was read).
bool FinishOggCopy(TOggPageWriter& pages, TByteWriter& out, const TOggPacketReader& packets, bool complete,
                   std::string& error);

uint32_t OggChecksum(const uint8_t* data, size_t size);
