// Run setup, first half: the input and output tables of a run, the stream maps and their checks,
// the choice of the input stream that feeds each output stream, the codec parameters for copy and
// encode, the metadata maps, the output dumps and the stream mapping log. Conversion thread.
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "RunState.h"

namespace {

AVMediaType TypeOf(const TStreamWriter& writer) {
    return writer.Enc->codec_type;
}

} // namespace

void TRunState::SetupRun() {
    BuildInputTables();
    BuildOutputTables();
    SetCodecParameters();
    OpenEncoders();
    OpenDecoders();
    InitInputTimestamps();
    ApplyMetadataMaps();
    AttachTags();
    WriteHeaders();
    WriteTagPictures();
    DumpOutputs();
    LogStreamMapping();
}

void TRunState::BuildInputTables() {
    InputFiles.assign(Engine.FInputFileCount, TInputFileState{});
    for (int i = 0; i < Engine.FInputFileCount; ++i) {
        AVFormatContext* ic = Engine.FInputFiles[i].get();
        InputFiles[i].FirstStream = static_cast<int32_t>(InputStreams.size());
        InputFiles[i].StreamCount = static_cast<int32_t>(ic->nb_streams);
        for (unsigned j = 0; j < ic->nb_streams; ++j) {
            auto ist = std::make_unique<TInputStreamState>();
            ist->Stream = ic->streams[j];
            ist->Dec =
                j < Engine.FInputCodecContexts[i].size() ? Engine.FInputCodecContexts[i][j].get() : nullptr;
            ist->FileIndex = i;
            ist->StreamIndex = static_cast<int32_t>(j);
            ist->Discarded = true;
            if (Engine.FRateEmulation) ist->StartClock = av::av_gettime();
            InputStreams.push_back(std::move(ist));
        }
    }
}

void TRunState::BuildOutputTables() {
    CheckOutputsAndMaps();
    BuildWriters();
    int n = 0;
    int writerBase = 0;
    for (int i = 0; i < Engine.FOutputFileCount; ++i) {
        AVFormatContext* oc = Engine.FOutputFiles[i].get();
        if (!Engine.FJoin && i > 0) writerBase += static_cast<int>(Engine.FOutputFiles[i - 1]->nb_streams);
        for (unsigned j = 0; j < oc->nb_streams; ++j, ++n) {
            auto ost = std::make_unique<TOutputStreamState>();
            ost->FileIndex = i;
            ost->StreamIndex = static_cast<int32_t>(j);
            ost->Stream = oc->streams[j];
            ost->Writer = Writers[writerBase + j].get();
            ChooseSource(*ost, oc, n);
            InputStreams[ost->SourceIndex]->Discarded = false;
            OutputStreams.push_back(std::move(ost));
        }
    }
}

void TRunState::CheckOutputsAndMaps() {
    int total = 0;
    for (int i = 0; i < Engine.FOutputFileCount; ++i) {
        AVFormatContext* oc = Engine.FOutputFiles[i].get();
        if (oc->nb_streams == 0) {
            av::av_dump_format(oc, i, oc->url, 1);
            throw FFmpegException(Format(kMsgNoStreamInOutput, i));
        }
        if (i == 0) GroupSize = static_cast<int32_t>(oc->nb_streams);
        total += static_cast<int>(oc->nb_streams);
    }
    if (Engine.FStreamMapCount > 0 && Engine.FStreamMapCount != total)
        throw FFmpegException(kMsgMapCountMismatch);
    for (int n = 0; n < Engine.FStreamMapCount; ++n) {
        const TStreamMapEntry& map = Engine.FStreamMaps[n];
        if (map.FileIndex < 0 || map.FileIndex >= Engine.FInputFileCount || map.StreamIndex < 0 ||
            map.StreamIndex >= InputFiles[map.FileIndex].StreamCount)
            throw FFmpegException(Format(kMsgNoInputStream, map.FileIndex, map.StreamIndex));
        if (map.SyncFileIndex < 0 || map.SyncFileIndex >= Engine.FInputFileCount || map.SyncStreamIndex < 0 ||
            map.SyncStreamIndex >= InputFiles[map.SyncFileIndex].StreamCount)
            throw FFmpegException(Format(kMsgNoSyncStream, map.SyncFileIndex, map.SyncStreamIndex));
    }
}

void TRunState::BuildWriters() {
    // One writer per real output stream; in join mode every entry is entry 0's context.
    for (int i = 0; i < Engine.FOutputFileCount; ++i) {
        if (Engine.FJoin && i > 0) break;
        AVFormatContext* oc = Engine.FOutputFiles[i].get();
        for (unsigned j = 0; j < oc->nb_streams; ++j) {
            auto writer = std::make_unique<TStreamWriter>();
            writer->File = oc;
            writer->FileIndex = i;
            writer->Stream = oc->streams[j];
            writer->Enc = Engine.FOutputCodecContexts[i][j].get();
            Writers.push_back(std::move(writer));
        }
    }
}

void TRunState::ChooseSource(TOutputStreamState& ost, AVFormatContext* oc, int n) {
    AVMediaType type = TypeOf(*ost.Writer);
    if (Engine.FStreamMapCount > 0) {
        const TStreamMapEntry& map = Engine.FStreamMaps[n];
        ost.SourceIndex = InputFiles[map.FileIndex].FirstStream + map.StreamIndex;
        AVMediaType inType = InputStreams[ost.SourceIndex]->Stream->codecpar->codec_type;
        if (inType != type) {
            av::av_dump_format(oc, ost.FileIndex, oc->url, 1);
            throw FFmpegException(Format(kMsgCodecTypeMismatch, map.FileIndex, map.StreamIndex,
                                         MediaTypeName(inType).c_str(), ost.FileIndex, ost.StreamIndex,
                                         MediaTypeName(type).c_str()));
        }
        ost.SyncSource = InputFiles[map.SyncFileIndex].FirstStream + map.SyncStreamIndex;
        return;
    }
    ost.SourceIndex = FindSourceByType(type, ost.FileIndex);
    if (ost.SourceIndex < 0) {
        av::av_dump_format(oc, ost.FileIndex, oc->url, 1);
        throw FFmpegException(
            Format(kMsgNoMatchingInput, ost.FileIndex, ost.StreamIndex, MediaTypeName(type).c_str()));
    }
    ost.SyncSource = ost.SourceIndex;
}

int TRunState::FindSourceByType(AVMediaType type, int outputFile) const {
    auto usable = [&](int index) {
        const TInputStreamState& ist = *InputStreams[index];
        return ist.Discarded && ist.Stream->codecpar->codec_type == type &&
               (!Engine.FJoin || ist.FileIndex == outputFile);
    };
    if (Engine.FProgramId != 0) {
        for (int f = 0; f < Engine.FInputFileCount; ++f) {
            AVFormatContext* ic = Engine.FInputFiles[f].get();
            for (unsigned p = 0; p < ic->nb_programs; ++p) {
                if (ic->programs[p]->id != Engine.FProgramId) continue;
                for (unsigned k = 0; k < ic->programs[p]->nb_stream_indexes; ++k) {
                    int index =
                        InputFiles[f].FirstStream + static_cast<int>(ic->programs[p]->stream_index[k]);
                    if (usable(index)) return index;
                }
            }
        }
    } else {
        for (size_t k = 0; k < InputStreams.size(); ++k)
            if (usable(static_cast<int>(k))) return static_cast<int>(k);
    }
    // Outside join mode an output may share an input stream that another output already takes.
    if (Engine.FProgramId == 0 && !Engine.FJoin)
        for (int k = static_cast<int>(InputStreams.size()) - 1; k >= 0; --k)
            if (InputStreams[k]->Stream->codecpar->codec_type == type) return k;
    return -1;
}

void TRunState::SetCodecParameters() {
    std::vector<const TStreamWriter*> settled;
    for (auto& ostPtr : OutputStreams) {
        TOutputStreamState& ost = *ostPtr;
        TInputStreamState& ist = *InputStreams[ost.SourceIndex];
        TStreamWriter& w = *ost.Writer;
        bool first = std::find(settled.begin(), settled.end(), &w) == settled.end();
        if (first) {
            settled.push_back(&w);
            AVDictionaryEntry* lang = av::av_dict_get(ist.Stream->metadata, "language", nullptr, 0);
            if (lang && !av::av_dict_get(w.Stream->metadata, "language", nullptr, 0))
                av::av_dict_set(&w.Stream->metadata, "language", lang->value, 0);
            w.Stream->disposition = ist.Stream->disposition;
            if (ist.Dec) {
                w.Enc->bits_per_raw_sample = ist.Dec->bits_per_raw_sample;
                w.Enc->chroma_sample_location = ist.Dec->chroma_sample_location;
            }
        }
        // In join mode the parameters are those of group 0; every group decodes its own source.
        bool copy = StreamCopy[Engine.FJoin ? 0 : ost.FileIndex][ost.StreamIndex];
        if (copy) {
            if (first) SetCopyParameters(ost, ist);
        } else {
            SetEncodeParameters(ost, ist);
        }
    }
}

void TRunState::SetCopyParameters(TOutputStreamState& ost, TInputStreamState& ist) {
    TStreamWriter& w = *ost.Writer;
    const AVCodecParameters* in = ist.Stream->codecpar;
    AVCodecParameters* out = w.Stream->codecpar;
    if (in->codec_type == AVMEDIA_TYPE_AUDIO && Engine.FAudioVolume != 256)
        throw FFmpegException(kMsgCopyAndVolume);
    if (in->codec_type != AVMEDIA_TYPE_AUDIO && in->codec_type != AVMEDIA_TYPE_VIDEO &&
        in->codec_type != AVMEDIA_TYPE_SUBTITLE)
        throw FFmpegException(kMsgInvalidOutputCodecType);

    unsigned wantedTag = w.Enc->codec_tag;
    if (av::avcodec_parameters_copy(out, in) < 0) throw FFmpegException(kMsgOutOfMemory);
    // The input's tag is kept only where the output format agrees with it.
    const AVCodecTag* const* tags = w.File->oformat->codec_tag;
    if (wantedTag != 0)
        out->codec_tag = wantedTag;
    else if (!tags || av::av_codec_get_id(tags, in->codec_tag) == in->codec_id ||
             av::av_codec_get_tag(tags, in->codec_id) == 0)
        out->codec_tag = in->codec_tag;
    else
        out->codec_tag = 0;
    w.Stream->time_base = ist.Stream->time_base;
    if (in->codec_type == AVMEDIA_TYPE_AUDIO) {
        if ((out->block_align == 1 && out->codec_id == AV_CODEC_ID_MP3) || out->codec_id == AV_CODEC_ID_AC3)
            out->block_align = 0;
    }
    w.Encode = false;
    ost.Encode = false;
}

void TRunState::SetEncodeParameters(TOutputStreamState& ost, TInputStreamState& ist) {
    AVCodecContext* enc = ost.Writer->Enc;
    switch (enc->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        ost.NeedsResample =
            (ist.Dec && enc->sample_rate != ist.Dec->sample_rate) || Engine.FAudioSyncMethod > 1;
        ist.Decode = true;
        ost.Encode = true;
        ost.Writer->Encode = true;
        break;
    case AVMEDIA_TYPE_VIDEO:
    case AVMEDIA_TYPE_SUBTITLE:
        throw FFmpegException(kMsgEncodingNotSupported);
    default:
        throw FFmpegException(kMsgInvalidOutputCodecType);
    }
}

void TRunState::InitInputTimestamps() {
    for (auto& ist : InputStreams) {
        ist->Pts = 0;
        ist->NextPts = AV_NOPTS_VALUE;
        ist->AtStart = true;
    }
}

void TRunState::ApplyMetadataMaps() {
    for (int m = 0; m < Engine.FMetadataMapCount; ++m) {
        int out = Engine.FMetadataMaps[m].OutFile, in = Engine.FMetadataMaps[m].InFile;
        const char* failure = nullptr;
        int bad = 0;
        if (out < 0 || out >= Engine.FOutputFileCount) {
            failure = kMsgBadMetadataOutput;
            bad = out;
        } else if (in < 0 || in >= Engine.FInputFileCount) {
            failure = kMsgBadMetadataInput;
            bad = in;
        }
        if (failure) {
            FailSetup(Format(failure, bad, out, in));
        }
        const AVDictionaryEntry* tag = nullptr;
        while ((tag = av::av_dict_get(Engine.FInputFiles[in]->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
            av::av_dict_set(&Engine.FOutputFiles[out]->metadata, tag->key, tag->value, 0);
    }
}

void TRunState::DumpOutputs() {
    for (int i = 0; i < Engine.FOutputFileCount; ++i) {
        if (Engine.FJoin && i > 0) break;
        av::av_dump_format(Engine.FOutputFiles[i].get(), i, Engine.FOutputFiles[i]->url, 1);
    }
}

void TRunState::FailSetup(const std::string& text) {
    LogStreamMapping();
    FFLogger().Log(&Engine, llError, text);
    throw FFmpegException(text);
}

void TRunState::LogStreamMapping() {
    if (Engine.FVerbose < 0) return;
    FFLogger().Log(&Engine, llVerbose, kMsgStreamMapping);
    for (auto& ost : OutputStreams) {
        const TInputStreamState& ist = *InputStreams[ost->SourceIndex];
        std::string type = MediaTypeName(TypeOf(*ost->Writer));
        FFLogger().Log(&Engine, llVerbose,
                       Format(kMsgStreamMappingLine, ist.FileIndex, ist.StreamIndex,
                              Engine.FJoin ? 0 : ost->FileIndex, ost->StreamIndex, type.c_str()));
        if (ost->SyncSource != ost->SourceIndex) {
            const TInputStreamState& sync = *InputStreams[ost->SyncSource];
            FFLogger().Log(&Engine, llVerbose,
                           Format(kMsgStreamMappingSync, sync.FileIndex, sync.StreamIndex, type.c_str()));
        }
    }
}
