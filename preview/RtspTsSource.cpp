#include "preview/RtspTsSource.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace qdipc {

namespace {

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

// Length of an access unit delimiter (start code included) at the start of a
// packet, 0 when there is none. Parameter sets often travel only in the SDP;
// the transport stream muxer puts them, with a delimiter of its own, in front
// of every key frame, but only when the packet does not begin with a
// delimiter itself (libvlc ignores parameter sets placed before one).
int LeadingDelimiterLength(AVCodecID codec, const std::uint8_t* data, int size) {
    int startCode = 0;
    if (size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1) {
        startCode = 4;
    } else if (size >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1) {
        startCode = 3;
    } else {
        return 0;
    }
    if (codec == AV_CODEC_ID_H264 && size >= startCode + 2 && (data[startCode] & 0x1f) == 9) {
        return startCode + 2;  // header byte, primary picture type
    }
    if (codec == AV_CODEC_ID_HEVC && size >= startCode + 3 &&
        ((data[startCode] >> 1) & 0x3f) == 35) {
        return startCode + 3;  // two header bytes, picture type
    }
    return 0;
}

std::int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Percent-encodes all but the unreserved characters, as the user information
// of a URL needs; libavformat decodes it again before it answers the camera.
std::string PercentEncoded(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// The location with "user:password@" in front of its host.
std::string WithCredentials(const std::string& location, const std::string& user,
                            const std::string& password) {
    const std::size_t scheme = location.find("://");
    if (scheme == std::string::npos || user.empty()) {
        return location;
    }
    return location.substr(0, scheme + 3) + PercentEncoded(user) + ":" + PercentEncoded(password) +
           "@" + location.substr(scheme + 3);
}

StreamEvent OpenFailure(int error) {
    switch (error) {
        case AVERROR(ECONNREFUSED):
            return StreamEvent::Refused;
        case AVERROR(ETIMEDOUT):
        case AVERROR(EHOSTUNREACH):
        case AVERROR(ENETUNREACH):
        case AVERROR(EHOSTDOWN):
            return StreamEvent::NoAnswer;
        case AVERROR_HTTP_UNAUTHORIZED:
            return StreamEvent::Unauthorized;
        default:
            return StreamEvent::NoStream;
    }
}

}  // namespace

struct RtspTsSource::Session {
    AVFormatContext* input = nullptr;
    AVFormatContext* output = nullptr;
    AVIOContext* io = nullptr;
    AVPacket* packet = nullptr;
    AVPacket* held = nullptr;  // a frame waiting for its timestamp
    int videoIndex = -1;
    bool seenKeyFrame = false;
    std::int64_t lastInputDts = AV_NOPTS_VALUE;  // input time base
    std::int64_t lastDts = AV_NOPTS_VALUE;       // output time base
    // Transport stream bytes written by the muxer and not yet read.
    std::vector<std::uint8_t> pending;
    std::size_t pendingOffset = 0;

    ~Session() {
        av_packet_free(&packet);
        av_packet_free(&held);
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

    // Muxes one video packet (timestamps in the input's time base); false
    // when the muxer refuses it.
    bool Mux(AVPacket* pkt) {
        if (pkt->dts == AV_NOPTS_VALUE) {
            pkt->dts = pkt->pts;
        }
        if (pkt->dts == AV_NOPTS_VALUE) {
            if (lastInputDts == AV_NOPTS_VALUE) {
                // The first frame of a session often comes without a time (it
                // is the key frame that the picture starts on): keep it until
                // the next one tells where it belongs.
                av_packet_unref(held);
                av_packet_move_ref(held, pkt);
                return true;
            }
            pkt->dts = lastInputDts + std::max<std::int64_t>(pkt->duration, 1);
        }
        if (pkt->pts == AV_NOPTS_VALUE) {
            pkt->pts = pkt->dts;
        }
        if (held->data) {
            held->dts = pkt->dts - std::max<std::int64_t>(held->duration, 1);
            held->pts = held->dts;
            const bool written = Write(held);
            av_packet_unref(held);
            if (!written) {
                return false;
            }
        }
        return Write(pkt);
    }

    bool Write(AVPacket* pkt) {
        lastInputDts = pkt->dts;
        av_packet_rescale_ts(pkt, input->streams[videoIndex]->time_base,
                             output->streams[0]->time_base);
        // The muxer needs rising decode times; a camera's clock jitter or a
        // repeated timestamp must not end the session.
        if (lastDts != AV_NOPTS_VALUE && pkt->dts <= lastDts) {
            pkt->dts = lastDts + 1;
        }
        if (pkt->pts < pkt->dts) {
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

RtspTsSource::RtspTsSource(std::string location, std::chrono::microseconds socketTimeout)
    : m_location(std::move(location)), m_socketTimeout(socketTimeout) {}

RtspTsSource::~RtspTsSource() {
    Close();
}

void RtspTsSource::Abort() {
    m_aborted.store(true);
}

void RtspTsSource::SetCredentials(std::string user, std::string password) {
    m_user = std::move(user);
    m_password = std::move(password);
}

void RtspTsSource::SetEventHandler(std::function<void(StreamEvent)> handler) {
    m_events = std::move(handler);
}

void RtspTsSource::Tell(StreamEvent event) {
    if (m_events && !m_aborted.load()) {
        m_events(event);
    }
}

bool RtspTsSource::Interrupted() const {
    if (m_aborted.load()) {
        return true;
    }
    const std::int64_t last = m_lastPacketNs.load();
    return last != 0 &&
           SteadyNs() - last >
               std::chrono::duration_cast<std::chrono::nanoseconds>(m_socketTimeout).count();
}

int RtspTsSource::Open() {
    Close();
    if (m_aborted.load()) {
        return -1;
    }
    m_stopTold = false;
    auto session = std::make_unique<Session>();

    session->input = avformat_alloc_context();
    if (!session->input) {
        return -1;
    }
    session->input->interrupt_callback.callback = [](void* opaque) -> int {
        return static_cast<const RtspTsSource*>(opaque)->Interrupted() ? 1 : 0;
    };
    session->input->interrupt_callback.opaque = this;
    AVDictionary* inputOptions = nullptr;
    av_dict_set_int(&inputOptions, "timeout", m_socketTimeout.count(), 0);
    const AVInputFormat* rtsp = av_find_input_format("rtsp");
    const std::string url = WithCredentials(m_location, m_user, m_password);
    const int opened = avformat_open_input(&session->input, url.c_str(), rtsp, &inputOptions);
    av_dict_free(&inputOptions);
    if (opened < 0) {
        Tell(OpenFailure(opened));
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
        Tell(StreamEvent::NoVideo);
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

    session->packet = av_packet_alloc();
    session->held = av_packet_alloc();
    if (!session->packet || !session->held) {
        return -1;
    }
    m_session = std::move(session);
    m_lastPacketNs.store(SteadyNs());
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
    m_lastPacketNs.store(SteadyNs());
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

    const AVCodecID codec = s.input->streams[s.videoIndex]->codecpar->codec_id;
    const int delimiter = LeadingDelimiterLength(codec, pkt->data, pkt->size);
    pkt->data += delimiter;
    pkt->size -= delimiter;
    const bool ok = s.Mux(pkt);
    av_packet_unref(pkt);
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
            if (m_aborted.load()) {
                return -1;
            }
            if (!m_stopTold) {
                m_stopTold = true;
                Tell(StreamEvent::Stopped);
            }
            return 0;
        }
    }
    return static_cast<ptrdiff_t>(m_session->Take(buffer, size));
}

void RtspTsSource::Close() {
    m_lastPacketNs.store(0);
    m_session.reset();
}

}  // namespace qdipc
