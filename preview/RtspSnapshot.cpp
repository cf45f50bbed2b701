#include "preview/RtspSnapshot.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "preview/StreamEvent.h"
#include "preview/StreamFacts.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace qdipc {

namespace {

using Clock = std::chrono::steady_clock;

// Every exchange with the camera (and a silence of it) ends after this long,
// as the pane's source does; the request's limit bounds the whole.
constexpr std::chrono::seconds kSocketTimeout{5};

struct Authority {
    std::string host;
    int port = 554;
};

Authority AuthorityOf(const std::string& location) {
    Authority result;
    const std::size_t start = location.find("://");
    const std::string rest = start == std::string::npos ? location : location.substr(start + 3);
    const std::string authority = rest.substr(0, rest.find('/'));
    const std::size_t colon = authority.find(':');
    result.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
        const int port = std::atoi(authority.c_str() + colon + 1);
        result.port = port > 0 ? port : 554;
    }
    return result;
}

StreamEvent OpenFailure(int error) {
    switch (error) {
        case AVERROR(ECONNREFUSED):
            return StreamEvent::Refused;
        case AVERROR(ETIMEDOUT):
        case AVERROR(EHOSTUNREACH):
        case AVERROR(ENETUNREACH):
        case AVERROR(EHOSTDOWN):
        case AVERROR_EXIT:  // the limit ran out while it connected
            return StreamEvent::NoAnswer;
        case AVERROR_HTTP_UNAUTHORIZED:
            return StreamEvent::Unauthorized;
        default:
            return StreamEvent::NoStream;
    }
}

struct InputCloser {
    void operator()(AVFormatContext* input) const { avformat_close_input(&input); }
};
struct CodecCloser {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct FrameCloser {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketCloser {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecCloser>;
using Frame = std::unique_ptr<AVFrame, FrameCloser>;
using Packet = std::unique_ptr<AVPacket, PacketCloser>;

SnapshotResult NoPicture(std::string reason) {
    SnapshotResult result;
    result.status = SnapshotResult::Status::NoPicture;
    result.reason = std::move(reason);
    return result;
}

SnapshotResult FileError(const std::string& file, const std::string& why) {
    SnapshotResult result;
    result.status = SnapshotResult::Status::FileError;
    result.reason = "cannot write " + file + ": " + why;
    return result;
}

// The decoded picture as PNG bytes (RGB, 8 bits a channel), or empty.
std::string EncodePng(const AVFrame* picture) {
    const AVCodec* png = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!png) {
        return {};
    }
    Codec encoder(avcodec_alloc_context3(png));
    Frame rgb(av_frame_alloc());
    Packet packet(av_packet_alloc());
    if (!encoder || !rgb || !packet) {
        return {};
    }
    encoder->width = picture->width;
    encoder->height = picture->height;
    encoder->pix_fmt = AV_PIX_FMT_RGB24;
    encoder->time_base = AVRational{1, 25};
    if (avcodec_open2(encoder.get(), png, nullptr) < 0) {
        return {};
    }
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = picture->width;
    rgb->height = picture->height;
    if (av_frame_get_buffer(rgb.get(), 0) < 0) {
        return {};
    }
    SwsContext* scale = sws_getContext(
        picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
        picture->width, picture->height, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scale) {
        return {};
    }
    const int rows = sws_scale(scale, picture->data, picture->linesize, 0, picture->height,
                               rgb->data, rgb->linesize);
    sws_freeContext(scale);
    if (rows != picture->height || avcodec_send_frame(encoder.get(), rgb.get()) < 0 ||
        avcodec_receive_packet(encoder.get(), packet.get()) < 0) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(packet->data),
                       static_cast<std::size_t>(packet->size));
}

// Writes bytes beside the file first and then puts them in its place, so
// that the file is either the old one or the whole new picture.
std::string WriteWhole(const std::string& file, const std::string& bytes) {
    const std::string temporary = file + ".part";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) {
        return std::error_code(errno, std::generic_category()).message();
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed) {
        std::remove(temporary.c_str());
        return std::error_code(written ? errno : writeErrno, std::generic_category()).message();
    }
    std::error_code error;
    std::filesystem::rename(temporary, file, error);
    if (error) {
        std::remove(temporary.c_str());
        return error.message();
    }
    return {};
}

}  // namespace

SnapshotResult TakeRtspSnapshot(const SnapshotRequest& request) {
    // The result's reason is the one line said; libav's own lines (with the
    // location and its internals) stay unprinted.
    av_log_set_level(AV_LOG_QUIET);
    const Authority at = AuthorityOf(request.location);
    const Clock::time_point deadline = Clock::now() + request.limit;
    const auto expired = [](void* opaque) -> int {
        return Clock::now() > *static_cast<const Clock::time_point*>(opaque) ? 1 : 0;
    };
    const auto seconds = std::to_string((request.limit.count() + 999) / 1000);

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        return NoPicture("out of memory");
    }
    raw->interrupt_callback.callback = expired;
    raw->interrupt_callback.opaque = const_cast<Clock::time_point*>(&deadline);
    // The reordering buffer holds as much as the pane's network cache.
    raw->max_delay = static_cast<int>(
        std::chrono::duration_cast<std::chrono::microseconds>(request.networkCaching).count());
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "timeout",
                    std::chrono::duration_cast<std::chrono::microseconds>(kSocketTimeout).count(),
                    0);
    const int opened =
        avformat_open_input(&raw, request.location.c_str(), av_find_input_format("rtsp"), &options);
    av_dict_free(&options);
    if (opened < 0) {
        // Whatever the session was waiting for when the limit ran out, the
        // camera did not answer in time.
        const StreamEvent why =
            Clock::now() > deadline ? StreamEvent::NoAnswer : OpenFailure(opened);
        return NoPicture(NoPictureReason(why, at.host, at.port));
    }
    Input input(raw);

    int videoIndex = -1;
    const AVCodec* decoder = nullptr;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters* par = input->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            decoder = avcodec_find_decoder(par->codec_id);
            if (decoder) {
                videoIndex = static_cast<int>(i);
                break;
            }
        }
    }
    if (videoIndex < 0) {
        return NoPicture(NoPictureReason(StreamEvent::NoVideo, at.host, at.port));
    }
    Codec codec(avcodec_alloc_context3(decoder));
    if (!codec ||
        avcodec_parameters_to_context(codec.get(), input->streams[videoIndex]->codecpar) < 0 ||
        avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        return NoPicture("No picture: the stream's video cannot be decoded");
    }

    Packet packet(av_packet_alloc());
    Frame frame(av_frame_alloc());
    if (!packet || !frame) {
        return NoPicture("out of memory");
    }
    // The first whole picture: a decoder starts at a key frame and marks
    // pictures it had to guess from missing data.
    bool decoded = false;
    while (!decoded) {
        const int read = av_read_frame(input.get(), packet.get());
        if (read < 0) {
            if (Clock::now() > deadline) {
                return NoPicture("No picture: " + at.host + " sent no picture within " + seconds +
                                 " s");
            }
            return NoPicture(NoPictureReason(StreamEvent::Stopped, at.host, at.port) +
                             " before its first picture");
        }
        if (packet->stream_index == videoIndex &&
            avcodec_send_packet(codec.get(), packet.get()) >= 0) {
            while (avcodec_receive_frame(codec.get(), frame.get()) >= 0) {
                if (frame->decode_error_flags == 0 && !(frame->flags & AV_FRAME_FLAG_CORRUPT) &&
                    frame->width > 0 && frame->height > 0) {
                    decoded = true;
                    break;
                }
                av_frame_unref(frame.get());
            }
        }
        av_packet_unref(packet.get());
    }

    const std::string png = EncodePng(frame.get());
    if (png.empty()) {
        return FileError(request.file, "the picture could not be encoded as PNG");
    }
    if (const std::string failure = WriteWhole(request.file, png); !failure.empty()) {
        return FileError(request.file, failure);
    }
    SnapshotResult result;
    result.status = SnapshotResult::Status::Written;
    result.width = static_cast<unsigned>(frame->width);
    result.height = static_cast<unsigned>(frame->height);
    return result;
}

}  // namespace qdipc
