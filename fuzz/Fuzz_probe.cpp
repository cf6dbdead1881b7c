// The probe on one file: open, stream search, and the description of its audio stream.
#include "AVProbe.h"
#include "FFUtils.h"
#include "FuzzSupport.h"
#include "RAzevaVUV.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZEVuzuzAVE& converter = FuzzConverter();
    std::string file = WriteFuzzInput(data, size);
    TAVProbe& probe = converter.AVProbe();
    if (probe.LoadFile(file)) {
        TAudioStreamInfo info;
        for (int i = -1; i < probe.StreamCount; ++i)
            probe.GetAudioStreamInfo(i, info);
    }
    probe.Close();
    return 0;
}
