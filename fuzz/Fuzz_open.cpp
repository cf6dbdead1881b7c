// The engine's input opening on one file: the task's input with its decoders and start seek, as
// a save sets it up, then closed again without running.
#include "FuzzSupport.h"
#include "RAzevaVUV.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZEVuzuzAVE& converter = FuzzConverter();
    std::string file = WriteFuzzInput(data, size);
    // The start seek takes another path through the demuxer than an open at the beginning.
    TInputOptions options;
    ResetInputOptions(options);
    options.FileName = file;
    options.StartTimeMs = size > 0 ? data[size - 1] * 10 : 0;
    converter.ClearTasks();
    converter.AddTask(file, &options);
    converter.ClearTasks();
    return 0;
}
