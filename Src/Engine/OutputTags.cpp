// Tags and cover pictures of the tag source (the original input of a save: a delete-mode join
// reads only lossless parts that carry none) put on the outputs: the tags before the header is
// written, the pictures right after it, before any audio. Conversion thread.
#include "FFmpeg.h"
#include "FFmpegLogger.h"
#include "RunState.h"

namespace {

inline constexpr const char* kMsgTagSourceFailed = "Could not read the tags of %s";
inline constexpr const char* kMsgPicturesFailed = "Could not write the cover pictures of output file #%d";

AVStream* FirstAudioStream(AVFormatContext* oc) {
    for (unsigned i = 0; i < oc->nb_streams; ++i)
        if (oc->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return oc->streams[i];
    return nullptr;
}

} // namespace

void TRunState::AttachTags() {
    if (Engine.FTagSource.empty()) return;
    TMediaTags& tags = Tags;
    std::string error;
    if (!tags.Load(Engine.FTagSource, error)) FailSetup(Format(kMsgTagSourceFailed, error.c_str()));
    for (int i = 0; i < Engine.FOutputFileCount; ++i) {
        if (Engine.FJoin && i > 0) break;
        AVFormatContext* oc = Engine.FOutputFiles[i].get();
        int carried = tags.AddTo(oc, FirstAudioStream(oc));
        if (carried < tags.PictureCount() && Engine.FVerbose >= 0)
            FFLogger().Log(&Engine, llVerbose,
                           Format("%d of %d cover pictures fit into the %s container", carried,
                                  tags.PictureCount(), oc->oformat->name));
    }
}

void TRunState::WriteTagPictures() {
    if (Engine.FTagSource.empty()) return;
    for (int i = 0; i < Engine.FOutputFileCount; ++i) {
        if (Engine.FJoin && i > 0) break;
        if (Tags.WritePictures(Engine.FOutputFiles[i].get()) < 0) FailSetup(Format(kMsgPicturesFailed, i));
    }
}
