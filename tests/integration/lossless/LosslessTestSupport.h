// What the lossless cutting tests share: scratch files of the test process, whole-file reads and
// writes, the decoded input (decoded once per file) and the comparison of a cut with it.
#pragma once

#include "LosslessCut.h"
#include "TestFiles.h"
#include "TestLibs.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

inline constexpr int64_t kToEnd = 1000000; // an end mark beyond every test file

struct TMarks {
    int64_t StartMs, EndMs;
};

// A folder of this test process (the cases run as parallel processes), removed at its end.
inline std::string Scratch(const std::string& name) {
    struct TFolder {
        std::string Path;
        TFolder() {
            std::string pattern = TestMediaFolder() + "lossless-XXXXXX";
            if (::mkdtemp(pattern.data())) Path = pattern + "/";
        }
        ~TFolder() {
            if (!Path.empty()) [[maybe_unused]] int rc = ::system(("rm -rf '" + Path + "'").c_str());
        }
    };
    static TFolder folder;
    return folder.Path + name;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline const TDecodedAudio& DecodedInput(const std::string& path) {
    static std::map<std::string, TDecodedAudio> cache;
    auto it = cache.find(path);
    if (it == cache.end()) it = cache.emplace(path, DecodeAudioFile(path)).first;
    return it->second;
}

// The first interleaved value where `cut` differs from `want` frames [from, to), -1 when none
// (a length difference counts at the shorter end).
inline int64_t FirstDifference(const TDecodedAudio& want, int64_t from, int64_t to, const TDecodedAudio& cut) {
    size_t ch = size_t(want.Channels);
    size_t n = size_t(to - from) * ch;
    for (size_t i = 0; i < std::min(n, cut.Samples.size()); ++i)
        if (want.Samples[size_t(from) * ch + i] != cut.Samples[i]) return int64_t(i / ch);
    return cut.Samples.size() == n ? -1 : int64_t(std::min(n, cut.Samples.size()) / ch);
}

inline int64_t Samples(int64_t ms, int rate) {
    return (ms * rate + 500) / 1000;
}

// Cuts `input` losslessly; the check's verdict must be Possible.
inline void Cut(const std::string& input, TLosslessMode mode, TMarks marks, const std::string& output) {
    TLosslessCutter cutter;
    TLosslessCheck check = cutter.Plan(input, mode, marks.StartMs, marks.EndMs);
    ASSERT_EQ(check.Verdict, TLosslessVerdict::Possible) << check.Reason;
    EXPECT_TRUE(check.SampleExact);
    ASSERT_TRUE(cutter.Write(output)) << cutter.LastError;
}

inline void ExpectExactSelect(const std::string& input, TMarks marks, const std::string& output) {
    ASSERT_NO_FATAL_FAILURE(Cut(input, TLosslessMode::Select, marks, output));
    const TDecodedAudio& whole = DecodedInput(input);
    TDecodedAudio cut = DecodeAudioFile(output);
    int64_t from = Samples(marks.StartMs, whole.SampleRate);
    int64_t to = std::min(whole.Frames(), Samples(marks.EndMs, whole.SampleRate));
    EXPECT_EQ(cut.Frames(), to - from);
    EXPECT_EQ(FirstDifference(whole, from, to, cut), -1);
}

class LosslessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadTestLibs(ConverterLibs)); }
};
