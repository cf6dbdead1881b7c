// Writes the seed corpus for the fuzz targets into the folder given as the argument: short
// generated files in every supported format, made through the loaded libraries.
#include "MyUtils.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <cstdio>
#include <fstream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    std::string folder = IncludeTrailingPathDelimiter(argv[1]);
    if (!LoadTestLibs(ConverterLibs)) return 1;
    const TMediaFormat formats[] = {TMediaFormat::Mp3Cbr, TMediaFormat::Mp3Vbr, TMediaFormat::Aac,
                                    TMediaFormat::Wav16,  TMediaFormat::WavFloat, TMediaFormat::Wma,
                                    TMediaFormat::Ogg};
    int written = 0;
    for (TMediaFormat format : formats) {
        for (int channels : {1, 2}) {
            TMediaSpec spec{format, 0.6, channels == 1 ? 22050 : 44100, channels, 64000};
            std::ifstream in(TestMediaFile(spec), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            std::string name = folder + "seed-" + std::to_string(written++) + MediaFormatExt(format);
            std::ofstream(name, std::ios::binary) << bytes.str();
        }
    }
    std::ofstream(folder + "seed-coverart.mp3", std::ios::binary) << std::ifstream(CoverArtMp3(), std::ios::binary).rdbuf();
    std::printf("%d seeds in %s\n", written + 1, folder.c_str());
    return 0;
}
