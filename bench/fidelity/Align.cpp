// Where does a decoded piece lie in the decoded source? Both are raw mono 32-bit float files (as
// the ffmpeg command line decodes them). Prints the source frame that piece frame `from` matches,
// by normalised cross-correlation of 8192 frames over expected ± radius, and the piece's length.
//   align SOURCE.f32 PIECE.f32 FROM EXPECTED RADIUS
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

static std::vector<float> Load(const char* path) {
    std::vector<float> samples;
    FILE* f = std::fopen(path, "rb");
    if (!f) return samples;
    float buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, sizeof(float), 4096, f)) > 0)
        samples.insert(samples.end(), buffer, buffer + got);
    std::fclose(f);
    return samples;
}

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: align SOURCE.f32 PIECE.f32 FROM EXPECTED RADIUS\n");
        return 2;
    }
    std::vector<float> source = Load(argv[1]), piece = Load(argv[2]);
    long from = std::atol(argv[3]), expected = std::atol(argv[4]), radius = std::atol(argv[5]);
    const long window = 8192;
    if (long(piece.size()) < from + window) {
        std::printf("offset=none length=%zu\n", piece.size());
        return 0;
    }
    double pieceEnergy = 0;
    for (long i = 0; i < window; ++i)
        pieceEnergy += double(piece[from + i]) * piece[from + i];
    long best = -1;
    double bestScore = -2;
    for (long lag = expected - radius; lag <= expected + radius; ++lag) {
        long at = lag + from;
        if (at < 0 || at + window > long(source.size())) continue;
        double dot = 0, energy = 0;
        for (long i = 0; i < window; ++i) {
            dot += double(source[at + i]) * piece[from + i];
            energy += double(source[at + i]) * source[at + i];
        }
        double score = dot / std::sqrt(energy * pieceEnergy + 1e-30);
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    std::printf("offset=%ld score=%.3f length=%zu\n", best, bestScore, piece.size());
    return 0;
}
