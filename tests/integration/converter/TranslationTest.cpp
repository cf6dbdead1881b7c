// The records' translation as the engine sees it: which ExtOptions lines each pass applies, and
// the order of lines, fields and file opening inside AddTask and SetOutput.
#include "ConverterFixture.h"
#include "MediaApi.h"
#include "TestMedia.h"

#include <ctime>

namespace {

class ConverterTranslation : public ConverterFixture {
protected:
    static std::string Wav(double seconds) { return TestMediaFile({TMediaFormat::Wav16, seconds, 44100, 2}); }

    // The value of a metadata key, or "" when absent.
    static std::string Tag(AVDictionary* dict, const char* key) {
        AVDictionaryEntry* entry = av::av_dict_get(dict, key, nullptr, 0);
        return entry ? entry->value : "";
    }
};

} // namespace

TEST_F(ConverterTranslation, OptionTextPassesSplitLinesByName) {
    TFFmpeg task;
    task.Reset();
    const std::string text = "  ar=22050\r\napre=nosuch\r\nnewaudio=1\rvn\n vn=0\n";
    task.ApplyOptionText(text, 2); // neither the preset nor the stream line may run here
    EXPECT_EQ(task.FAudioSampleRate, 22050);
    EXPECT_TRUE(task.FVideoDisabled); // "vn" without "=" is a name with an empty value
    // Names are not trimmed: " vn" is no option of the engine and changes nothing.
    try {
        task.ApplyOptionText(text, 1);
        ADD_FAILURE() << "the preset line did not run";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Preset \"nosuch\" not found");
    }
    try {
        task.ApplyOptionText(text, 0);
        ADD_FAILURE() << "the stream line did not run";
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "At least one output file must be specified");
    }
}

TEST_F(ConverterTranslation, InputRecordFieldsFollowItsGeneralLines) {
    TFFmpeg task;
    task.Reset();
    TInputOptions in;
    in.ExtOptions = "ss=5\nvn=1";
    in.StartTimeMs = 2000;
    in.ProgramId = 3;
    task.ApplyInputOptions(in);
    EXPECT_EQ(task.FStartTime, 2000000); // the field replaces the "ss" line
    EXPECT_TRUE(task.FVideoDisabled);
    EXPECT_EQ(task.FProgramId, 3);

    ResetInputOptions(in);
    in.StartTimeMs = 1500;
    in.StartTime = 0;
    task.ApplyInputOptions(in);
    EXPECT_EQ(task.FStartTime, 1500000);
    in.StartTime = 2000000;
    task.ApplyInputOptions(in);
    EXPECT_EQ(task.FStartTime, 2000000);
}

TEST_F(ConverterTranslation, AddTaskFillsEmptyFileNameAndOpensTheArgument) {
    const std::string wav = Wav(1.0);
    ZEVuzuzAVE component;
    TInputOptions in;
    // A preset line in an input record is never applied (it would fail: no such preset).
    in.ExtOptions = "apre=nosuch\nnewaudio=1\nvn=1";
    ASSERT_EQ(component.AddTask(wav, &in), 0) << component.LastErrMsg;
    EXPECT_EQ(in.FileName, wav);
    EXPECT_TRUE(component.Task(0)->FVideoDisabled);
    EXPECT_EQ(component.Task(0)->InputOptions, in);

    TInputOptions named;
    named.FileName = "/no/such/file.wav";
    ASSERT_TRUE(component.AddInput(0, wav, &named)) << component.LastErrMsg;
    EXPECT_EQ(named.FileName, "/no/such/file.wav");
    EXPECT_EQ(component.Task(0)->FInputFileCount, 2);
    EXPECT_EQ(component.Task(0)->Probe().AudioStreamCount, 1); // describes the input opened last

    // The preview flags reach existing tasks and are given to new ones.
    component.SetPreviewBitmap(true);
    EXPECT_EQ(component.Task(0)->FPreviewFlags, 2);
    component.SetPreview(true);
    ASSERT_EQ(component.AddTask(wav), 1) << component.LastErrMsg;
    EXPECT_EQ(component.Task(1)->FPreviewFlags, 3);
    component.SetPreviewBitmap(false);
    EXPECT_EQ(component.Task(0)->FPreviewFlags, 1);
}

// The general lines come first, then the fields: a field that is applied wins, and the ones
// applied "always" win even at their defaults. Preset lines come after the fields.
TEST_F(ConverterTranslation, OutputFieldsOverrideGeneralLinesAndPresetsSeeFieldCodecs) {
    ZEVuzuzAVE component;
    ASSERT_EQ(component.AddTask(Wav(1.0)), 0) << component.LastErrMsg;
    TOutputOptions out;
    out.ExtOptions = "an=1\nalang=fre\nasync=1\nvn=1\nar=22050\nac=2\nvol=100\nt=5";
    out.AudioChannels = 1;
    out.DurationMs = 3000;
    out.AudioCodec = "pcm_s16le";
    ASSERT_TRUE(component.SetOutput(0, OutPath("order.wav"), &out)) << component.LastErrMsg;
    TFFmpeg* task = component.Task(0);
    ASSERT_EQ(task->FOutputFileCount, 1);
    AVFormatContext* output = task->FOutputFiles[0].get();
    ASSERT_EQ(output->nb_streams, 1u); // "an=1" undone by DisableAudio false
    ASSERT_EQ(task->FOutputCodecContexts[0].size(), 1u);
    const AVCodecContext* encoder = task->FOutputCodecContexts[0][0].get();
    EXPECT_EQ(encoder->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(Tag(output->streams[0]->metadata, "language"), ""); // "alang" undone by AudioLanguage ""
    EXPECT_EQ(encoder->sample_rate, 22050);                       // AudioSampleRate not set: the line holds
    EXPECT_EQ(encoder->ch_layout.nb_channels, 1);
    EXPECT_EQ(task->FAudioSyncMethod, 0);
    EXPECT_FALSE(task->FVideoDisabled);
    EXPECT_EQ(task->FAudioVolume, 100);
    EXPECT_EQ(task->FRecordingTime, 3000000);
    EXPECT_EQ(task->FTotalDuration, 3000);

    ASSERT_EQ(component.AddTask(Wav(1.0)), 1);
    ResetOutputOptions(out);
    out.AudioCodec = "libmp3lame";
    out.ExtOptions = "apre=x";
    EXPECT_FALSE(component.SetOutput(1, OutPath("preset.mp3"), &out));
    EXPECT_EQ(component.LastErrMsg, "Preset \"libmp3lame-x\" not found");
}

TEST_F(ConverterTranslation, StreamLinesAddToTheCreatedOutput) {
    ZEVuzuzAVE component;
    ASSERT_EQ(component.AddTask(Wav(1.0)), 0) << component.LastErrMsg;
    TOutputOptions out;
    out.ExtOptions = "newaudio=1";
    out.AudioCodec = "libmp3lame";
    ASSERT_TRUE(component.SetOutput(0, OutPath("two.mka"), &out)) << component.LastErrMsg;
    TFFmpeg* task = component.Task(0);
    ASSERT_EQ(task->FOutputFiles[0]->nb_streams, 2u);
    ASSERT_EQ(task->FOutputCodecContexts[0].size(), 2u);
    EXPECT_EQ(task->FOutputCodecContexts[0][0]->codec_type, AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(task->FOutputCodecContexts[0][1]->codec_type, AVMEDIA_TYPE_AUDIO);
}

TEST_F(ConverterTranslation, JoinOfThreeInputsTotalsTheirDurations) {
    ZEVuzuzAVE component;
    ASSERT_EQ(component.AddTask(Wav(1.0)), 0) << component.LastErrMsg;
    ASSERT_TRUE(component.AddInput(0, Wav(0.5))) << component.LastErrMsg;
    ASSERT_TRUE(component.AddInput(0, Wav(0.7))) << component.LastErrMsg;
    TOutputOptions out;
    out.Join = true;
    out.DurationMs = 400;
    ASSERT_TRUE(component.SetOutput(0, OutPath("join3.wav"), &out)) << component.LastErrMsg;
    TFFmpeg* task = component.Task(0);
    EXPECT_TRUE(task->FJoin);
    EXPECT_EQ(task->FOutputFileCount, 3);
    EXPECT_NEAR(task->FTotalDuration, 2200, 2);
}

TEST_F(ConverterTranslation, MetadataTimestampAndHookRanges) {
    ZEVuzuzAVE component;
    ASSERT_EQ(component.AddTask(Wav(1.0)), 0) << component.LastErrMsg;
    TOutputOptions out;
    out.Info.Timestamp = 0.0;
    out.Info.Year = 2009;
    out.Info.Title = "Clip";
    out.HookRanges = "0-1000, 5000-4000 ,x-2000";
    const int64_t before = std::time(nullptr);
    ASSERT_TRUE(component.SetOutput(0, OutPath("meta.wav"), &out)) << component.LastErrMsg;
    const int64_t after = std::time(nullptr);
    TFFmpeg* task = component.Task(0);
    EXPECT_GE(task->FRecordingTimestamp, before);
    EXPECT_LE(task->FRecordingTimestamp, after);
    EXPECT_EQ(Tag(task->FOutputFiles[0]->metadata, "year"), "2009");
    EXPECT_EQ(Tag(task->FOutputFiles[0]->metadata, "title"), "Clip");
    EXPECT_EQ(task->FHookRanges, (std::vector<THookRange>{{0, 1000000}, {-1000, 2000000}}));
    EXPECT_EQ(out.FileName, OutPath("meta.wav"));

    // Without a record: the stored record returns to its defaults, nothing is stamped.
    ASSERT_EQ(component.AddTask(Wav(1.0)), 1);
    component.Task(1)->OutputOptions.Join = true;
    ASSERT_TRUE(component.SetOutput(1, OutPath("plain.wav"))) << component.LastErrMsg;
    EXPECT_EQ(component.Task(1)->OutputOptions, TOutputOptions{});
    EXPECT_EQ(component.Task(1)->FRecordingTimestamp, 0);
    EXPECT_FALSE(component.Task(1)->FJoin);
}
