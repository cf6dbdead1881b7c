// The tags and cover pictures of a media file, carried into another file that is being written:
// the file-wide tags (and those of its audio stream, where Ogg keeps them) through the media
// libraries' own tag-name conversion, and the cover pictures as attached-picture streams where
// the output container holds them (MP3's ID3v2 APIC, FLAC's PICTURE block, MP4's "covr") or as
// the METADATA_BLOCK_PICTURE comment in Ogg; ADTS gets the tags as ID3v2, without pictures. Tags that describe the old encoding rather than the
// content (its length, encoder, gapless or VBR information) are left behind.
//
// Used by one thread at a time; the libraries must be loaded.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVStream;
struct AVDictionary;

class TMediaTags {
public:
    TMediaTags();
    ~TMediaTags();
    TMediaTags(const TMediaTags&) = delete;
    TMediaTags& operator=(const TMediaTags&) = delete;

    // Reads the tags and pictures of `fileName` (UTF-8). False with `error` when it cannot be
    // opened; what was read before is dropped either way.
    bool Load(const std::string& fileName, std::string& error);
    // Copies them from an input that is open already (not kept).
    void LoadFrom(const AVFormatContext* input);

    bool Empty() const;
    int PictureCount() const;
    // The carried tags (file-wide merged with the audio stream's); not owned.
    const AVDictionary* Tags() const;

    // Before the output's header is written: puts the tags on `output` (and on `audio` where the
    // container reads them from the stream), keeping tags already set there, and adds what the
    // container holds of the pictures. Returns the number of pictures the output will carry.
    int AddTo(AVFormatContext* output, AVStream* audio);
    // After the header: writes the picture packets of the streams AddTo added. 0 or an AVERROR.
    int WritePictures(AVFormatContext* output);

    // Whether a muxer stores cover pictures as attached-picture streams, or as Ogg comments.
    static bool HoldsPictureStreams(const char* muxerName);
    static bool HoldsPictureComments(const char* muxerName);
    // Switches on the tag writing of a muxer that leaves it off unless asked (ADTS: an ID3v2 tag
    // ahead of the stream; it holds no pictures). Before the header is written.
    static void EnableTagWriting(AVFormatContext* output);
    // Whether a tag key describes the encoding rather than the content (not carried).
    static bool IsEncodingTag(const char* key);

private:
    struct TPicture;
    void Clear();
    AVDictionary* FTags = nullptr; // owned
    std::vector<std::unique_ptr<TPicture>> FPictures;
    struct TAddedStream {
        const AVFormatContext* Output;
        int StreamIndex;
        size_t Picture; // into FPictures
    };
    std::vector<TAddedStream> FAddedStreams; // the picture streams AddTo created
};

// The FLAC picture block (the payload of METADATA_BLOCK_PICTURE before base64) of one picture.
std::string FlacPictureBlock(int pictureType, const std::string& mimeType, const std::string& description,
                             int width, int height, const std::string& data);
std::string Base64Encode(const std::string& bytes);
