#include "preview/RtspTsSource.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
}

namespace qdipc {

namespace {

// Socket timeout for every RTSP exchange and for a camera that stops sending;
// an RTP-over-UDP session that stays silent this long is retried over TCP.
constexpr const char* kSocketTimeoutMicroseconds = "5000000";
// The transport stream is written in small pieces so that each video frame
// reaches libvlc as soon as it has arrived.
constexpr int kIoBufferSize = 188 * 7;

bool TransportStreamCarries(AVCodecID codec) {
    switch (codec) {
        case AV_CODEC_ID_H264:
        case AV_CODEC_ID_HEVC:
        case AV_CODEC_ID_MPEG4:
        case AV_CODEC_ID_MPEG2VIDEO:
            return true;
        default:
            return false;
    }
}

// RTSP parameter sets come from the SDP in Annex B form; a camera that sends
// them only there (and not in the stream) would leave the decoder with key
// frames it cannot start on, so they are put in front of every key frame.
bool HasAnnexBParameterSets(const AVCodecParameters* par) {
    return (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC) &&
           par->extradata_size >= 4 && par->extradata[0] == 0 && par->extradata[1] == 0;
}

}  // namespace

struct RtspTsSource::Session {
    AVFormatContext* input = nullptr;
    AVFormatContext* output = nullptr;
    AVIOContext* io = nullptr;
    AVBSFContext* filter = nullptr;
    AVPacket* packet = nullptr;
    int videoIndex = -1;
    bool seenKeyFrame = false;
    std::int64_t lastDts = AV_NOPTS_VALUE;
    // Transport stream bytes written by the muxer and not yet read.
    std::vector<std::uint8_t> pending;
    std::size_t pendingOffset = 0;

    ~Session() {
        av_packet_free(&packet);
        av_bsf_free(&filter);
        if (output) {
            avformat_free_context(output);
        }
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        avformat_close_input(&input);
    }

    static int WriteTs(void* opaque, std::uint8_t* data, int size) {
        auto* self = static_cast<Session*>(opaque);
        self->pending.insert(self->pending.end(), data, data + size);
        return size;
    }

    std::size_t Available() const { return pending.size() - pendingOffset; }

    std::size_t Take(std::uint8_t* buffer, std::size_t size) {
        const std::size_t n = std::min(size, Available());
        std::memcpy(buffer, pending.data() + pendingOffset, n);
        pendingOffset += n;
        if (pendingOffset == pending.size()) {
            pending.clear();
            pendingOffset = 0;
        }
        return n;
    }

    // Muxes one video packet of the input; false when the muxer refuses it.
    bool Mux(AVPacket* pkt) {
        AVStream* in = input->streams[videoIndex];
        AVStream* out = output->streams[0];
        if (pkt->dts == AV_NOPTS_VALUE) {
            pkt->dts = pkt->pts;
        }
        if (pkt->dts == AV_NOPTS_VALUE) {
            return true;  // no time at all: nothing libvlc could schedule
        }
        av_packet_rescale_ts(pkt, in->time_base, out->time_base);
        // The muxer needs rising decode times; a camera's clock jitter or a
        // repeated timestamp must not end the session.
        if (lastDts != AV_NOPTS_VALUE && pkt->dts <= lastDts) {
            pkt->dts = lastDts + 1;
        }
        if (pkt->pts != AV_NOPTS_VALUE && pkt->pts < pkt->dts) {
            pkt->pts = pkt->dts;
        }
        lastDts = pkt->dts;
        pkt->stream_index = 0;
        if (av_write_frame(output, pkt) < 0) {
            return false;
        }
        avio_flush(output->pb);
        return true;
    }
};

RtspTsSource::RtspTsSource(std::string location) : m_location(std::move(location)) {}

RtspTsSource::~RtspTsSource() {
    Close();
}

void RtspTsSource::Abort() {
    m_aborted.store(true);
}

int RtspTsSource::Open() {
    Close();
    if (m_aborted.load()) {
        return -1;
    }
    auto session = std::make_unique<Session>();

    session->input = avformat_alloc_context();
    if (!session->input) {
        return -1;
    }
    session->input->interrupt_callback.callback = [](void* opaque) -> int {
        return static_cast<RtspTsSource*>(opaque)->m_aborted.load() ? 1 : 0;
    };
    session->input->interrupt_callback.opaque = this;
    AVDictionary* inputOptions = nullptr;
    av_dict_set(&inputOptions, "timeout", kSocketTimeoutMicroseconds, 0);
    const AVInputFormat* rtsp = av_find_input_format("rtsp");
    const int opened =
        avformat_open_input(&session->input, m_location.c_str(), rtsp, &inputOptions);
    av_dict_free(&inputOptions);
    if (opened < 0) {
        return -1;  // avformat_open_input freed the context
    }

    // The SDP already names the codec and carries its parameter sets, so the
    // stream is not probed: probing would hold the first picture back.
    session->videoIndex = -1;
    for (unsigned i = 0; i < session->input->nb_streams; ++i) {
        const AVCodecParameters* par = session->input->streams[i]->codecpar;
        if (session->videoIndex < 0 && par->codec_type == AVMEDIA_TYPE_VIDEO &&
            TransportStreamCarries(par->codec_id)) {
            session->videoIndex = static_cast<int>(i);
        }
    }
    if (session->videoIndex < 0) {
        return -1;
    }
    const AVCodecParameters* inPar = session->input->streams[session->videoIndex]->codecpar;

    if (avformat_alloc_output_context2(&session->output, nullptr, "mpegts", nullptr) < 0) {
        return -1;
    }
    // No muxing delay: a transport stream normally leads its clock by 0.7 s,
    // which libvlc would wait out before every picture.
    session->output->max_delay = 0;
    AVStream* outStream = avformat_new_stream(session->output, nullptr);
    if (!outStream || avcodec_parameters_copy(outStream->codecpar, inPar) < 0) {
        return -1;
    }
    outStream->codecpar->codec_tag = 0;
    outStream->time_base = session->input->streams[session->videoIndex]->time_base;

    auto* ioBuffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
    if (!ioBuffer) {
        return -1;
    }
    session->io = avio_alloc_context(ioBuffer, kIoBufferSize, 1, session.get(), nullptr,
                                     &Session::WriteTs, nullptr);
    if (!session->io) {
        av_free(ioBuffer);
        return -1;
    }
    session->output->pb = session->io;
    session->output->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_write_header(session->output, nullptr) < 0) {
        return -1;
    }
    avio_flush(session->output->pb);

    if (HasAnnexBParameterSets(inPar)) {
        const AVBitStreamFilter* dumpExtra = av_bsf_get_by_name("dump_extra");
        if (dumpExtra && av_bsf_alloc(dumpExtra, &session->filter) == 0) {
            avcodec_parameters_copy(session->filter->par_in, inPar);
            session->filter->time_base_in = session->input->streams[session->videoIndex]->time_base;
            av_opt_set(session->filter->priv_data, "freq", "keyframe", 0);
            if (av_bsf_init(session->filter) < 0) {
                av_bsf_free(&session->filter);
            }
        }
    }

    session->packet = av_packet_alloc();
    if (!session->packet) {
        return -1;
    }
    m_session = std::move(session);
    return 0;
}

bool RtspTsSource::PumpOnePacket() {
    Session& s = *m_session;
    AVPacket* pkt = s.packet;
    const int got = av_read_frame(s.input, pkt);
    if (got == AVERROR(EAGAIN)) {
        return true;
    }
    if (got < 0) {
        return false;
    }
    if (pkt->stream_index != s.videoIndex) {
        av_packet_unref(pkt);
        return true;
    }
    // Start on a key frame, so that the first picture libvlc shows is whole.
    if (!s.seenKeyFrame && !(pkt->flags & AV_PKT_FLAG_KEY)) {
        av_packet_unref(pkt);
        return true;
    }
    s.seenKeyFrame = true;

    bool ok = true;
    if (s.filter) {
        if (av_bsf_send_packet(s.filter, pkt) < 0) {
            av_packet_unref(pkt);
            return true;
        }
        while (ok && av_bsf_receive_packet(s.filter, pkt) == 0) {
            ok = s.Mux(pkt);
            av_packet_unref(pkt);
        }
    } else {
        ok = s.Mux(pkt);
        av_packet_unref(pkt);
    }
    return ok;
}

ptrdiff_t RtspTsSource::Read(std::uint8_t* buffer, std::size_t size) {
    if (!m_session || m_aborted.load()) {
        return -1;
    }
    if (size == 0) {
        return 0;
    }
    while (m_session->Available() == 0) {
        if (m_aborted.load()) {
            return -1;
        }
        if (!PumpOnePacket()) {
            return m_aborted.load() ? -1 : 0;
        }
    }
    return static_cast<ptrdiff_t>(m_session->Take(buffer, size));
}

void RtspTsSource::Close() {
    m_session.reset();
}

}  // namespace qdipc
