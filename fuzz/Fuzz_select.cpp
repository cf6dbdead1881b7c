// A short select through the save workflow: the intake check, then 0.3 s from a start mark
// encoded as the input into a scratch output, waiting for the conversion's end.
#include "FuzzSupport.h"
#include "MyUtils.h"
#include "RAzevaVUV.h"
#include "SaveWorkflow.h"

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZEVuzuzAVE& converter = FuzzConverter();
    std::string file = WriteFuzzInput(data, size);
    TSaveWorkflow workflow(converter);
    if (workflow.CheckInputFile(file)) {
        workflow.InputFile = file;
        std::string output = FuzzScratch("output" + ExtractFileExt(file));
        int64_t startMs = size > 0 ? data[size / 2] * 4 : 0;
        workflow.ConvertSegment(file, output, startMs, startMs + 300);
        ::unlink(output.c_str());
    }
    converter.AVProbe().Close();
    return 0;
}
