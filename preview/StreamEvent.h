#pragma once
// What the pane learns about the stream it plays: the first picture, or why
// there is none.

namespace qdipc {

enum class StreamEvent {
    Picture,       // a picture is shown
    Refused,       // the camera refused the connection on its RTSP port
    NoAnswer,      // the camera did not answer (no host, or no reply in time)
    Unauthorized,  // the camera asks for a user name and password (RTSP 401)
    NoVideo,       // the stream carries no video the pane can show
    NoStream,      // the camera answered but did not start a stream
    Stopped        // the stream ended or went silent after it had started
};

}  // namespace qdipc
