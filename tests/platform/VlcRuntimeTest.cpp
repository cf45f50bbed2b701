// The parts of the run-time libvlc loader that need no installed VLC: the PE
// header's machine, the version check and number, the reason lines; and the
// preview's calls through a table of recording functions.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include "platform/Winsock_win.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "platform/TcpReach.h"
#include "platform/VlcRuntime.h"
#include "preview/VlcRuntimePreview.h"

namespace qdipc {
namespace {

// A file head: "MZ", the signature's offset at 0x3c, "PE\0\0" there, then
// the machine, little-endian.
std::vector<unsigned char> PeHead(std::uint32_t signatureAt, std::uint16_t machine,
                                  std::size_t size) {
    std::vector<unsigned char> head(size, 0);
    head[0] = 'M';
    head[1] = 'Z';
    head[0x3c] = static_cast<unsigned char>(signatureAt);
    head[0x3d] = static_cast<unsigned char>(signatureAt >> 8);
    head[0x3e] = static_cast<unsigned char>(signatureAt >> 16);
    head[0x3f] = static_cast<unsigned char>(signatureAt >> 24);
    const unsigned char tail[] = {'P',
                                  'E',
                                  0,
                                  0,
                                  static_cast<unsigned char>(machine),
                                  static_cast<unsigned char>(machine >> 8)};
    for (std::size_t i = 0; i < sizeof tail && signatureAt + i < size; ++i) {
        head[signatureAt + i] = tail[i];
    }
    return head;
}

TEST(VlcRuntimeTest, PeMachineOfHeads) {
    EXPECT_EQ(PeMachine(PeHead(0x80, 0x8664, 0x200)), 0x8664);
    EXPECT_EQ(PeMachine(PeHead(0x80, 0x014c, 0x200)), 0x014c);
    EXPECT_EQ(PeMachine(PeHead(0x40, 0xaa64, 0x46)), 0xaa64);  // ends with the field
    // One byte short of the machine field, signature beyond the head.
    EXPECT_EQ(PeMachine(PeHead(0x40, 0x8664, 0x45)), std::nullopt);
    EXPECT_EQ(PeMachine(PeHead(0x200, 0x8664, 0x200)), std::nullopt);
    EXPECT_EQ(PeMachine(PeHead(0xfffffffe, 0x8664, 0x200)), std::nullopt);
    std::vector<unsigned char> noMz = PeHead(0x80, 0x8664, 0x200);
    noMz[1] = 'Y';
    EXPECT_EQ(PeMachine(noMz), std::nullopt);
    std::vector<unsigned char> noPe = PeHead(0x80, 0x8664, 0x200);
    noPe[0x82] = 'x';
    EXPECT_EQ(PeMachine(noPe), std::nullopt);
    EXPECT_EQ(PeMachine(std::vector<unsigned char>(0x3f, 'M')), std::nullopt);
}

TEST(VlcRuntimeTest, VersionCheckAndNumber) {
    EXPECT_TRUE(IsVlc3Version("3.0.20 Vetinari"));
    EXPECT_TRUE(IsVlc3Version("3.0.0-git"));
    EXPECT_FALSE(IsVlc3Version("2.2.8 Weatherwax"));
    EXPECT_FALSE(IsVlc3Version("4.0.0-dev Otto Chriek"));
    EXPECT_FALSE(IsVlc3Version("30.0"));
    EXPECT_FALSE(IsVlc3Version(""));
    EXPECT_EQ(VlcVersionNumber("2.2.8 Weatherwax"), "2.2.8");
    EXPECT_EQ(VlcVersionNumber("4.0.0-dev Otto Chriek"), "4.0.0-dev");
    // Only the number's own characters, at most 32 of them.
    EXPECT_EQ(VlcVersionNumber("1.0\x1b]0;X\x07"), "1.0");
    EXPECT_EQ(VlcVersionNumber(std::string(40, '9')), std::string(32, '9'));
    EXPECT_EQ(VlcVersionNumber("<b>2</b>"), "");
}

TEST(VlcRuntimeTest, ReasonLines) {
    const std::string bits(ProgramBitness());
    const std::string other = bits == "64-bit" ? "32-bit" : "64-bit";
    VlcRuntime runtime;
    runtime.state = VlcRuntime::State::Missing;
    EXPECT_EQ(VlcRuntimeReason(runtime), "No picture: VLC 3 (" + bits + ") is not installed");
    runtime.state = VlcRuntime::State::WrongVersion;
    runtime.version = "2.2.8 Weatherwax";
    EXPECT_EQ(VlcRuntimeReason(runtime),
              "No picture: VLC 3 (" + bits + ") is needed; the VLC installed is version 2.2.8");
    runtime.version = "";
    EXPECT_EQ(VlcRuntimeReason(runtime), "No picture: VLC 3 (" + bits +
                                             ") is needed; the VLC installed is of an unknown "
                                             "version");
    runtime.state = VlcRuntime::State::WrongBitness;
    EXPECT_EQ(VlcRuntimeReason(runtime),
              "No picture: VLC 3 (" + bits + ") is needed; the VLC installed is " + other);
    runtime.state = VlcRuntime::State::Unloadable;
    runtime.systemError = 126;
    EXPECT_EQ(VlcRuntimeReason(runtime),
              "No picture: the installed VLC could not be loaded (Windows error 126)");
    runtime.state = VlcRuntime::State::Loaded;
    EXPECT_EQ(VlcRuntimeReason(runtime), "");
    runtime.state = VlcRuntime::State::Linked;
    EXPECT_EQ(VlcRuntimeReason(runtime), "");
}

#ifndef _WIN32
TEST(VlcRuntimeTest, LinuxLinksLibvlc) {
    EXPECT_EQ(LoadVlcRuntime().state, VlcRuntime::State::Linked);
}
#endif

// Recording stand-ins for the library's calls. A call made off the test's
// own thread (the release thread) is marked "[off] ".
std::mutex g_mutex;
std::vector<std::string> g_calls;
std::thread::id g_testThread;
int g_playResult = 0;
libvlc_instance_t* const kInstance = reinterpret_cast<libvlc_instance_t*>(0x10);
libvlc_media_t* const kMedia = reinterpret_cast<libvlc_media_t*>(0x20);
libvlc_media_player_t* const kPlayer = reinterpret_cast<libvlc_media_player_t*>(0x30);

void Record(std::string call) {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back((std::this_thread::get_id() == g_testThread ? "" : "[off] ") + call);
}

std::vector<std::string> Calls() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    return g_calls;
}

void StartRecording() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.clear();
    g_testThread = std::this_thread::get_id();
    g_playResult = 0;
}

VlcFunctions RecordingFunctions() {
    VlcFunctions f;
    f.libvlc_new = [](int argc, const char* const* argv) {
        std::string call = "new";
        for (int i = 0; i < argc; ++i) {
            call += std::string(" ") + argv[i];
        }
        Record(call);
        return kInstance;
    };
    f.libvlc_release = [](libvlc_instance_t* i) {
        Record(i == kInstance ? "release" : "release ?");
    };
    f.libvlc_media_new_location = [](libvlc_instance_t* i, const char* location) {
        Record(std::string(i == kInstance ? "media " : "media ? ") + location);
        return kMedia;
    };
    f.libvlc_media_add_option = [](libvlc_media_t* m, const char* option) {
        Record(std::string(m == kMedia ? "option " : "option ? ") + option);
    };
    f.libvlc_media_release = [](libvlc_media_t* m) {
        Record(m == kMedia ? "media release" : "media release ?");
    };
    f.libvlc_media_player_new_from_media = [](libvlc_media_t* m) {
        Record(m == kMedia ? "player" : "player ?");
        return kPlayer;
    };
    f.libvlc_media_player_release = [](libvlc_media_player_t* p) {
        Record(p == kPlayer ? "player release" : "player release ?");
    };
    f.libvlc_media_player_set_hwnd = [](libvlc_media_player_t* p, void* window) {
        Record((p == kPlayer ? "hwnd " : "hwnd ? ") +
               std::to_string(reinterpret_cast<std::uintptr_t>(window)));
    };
    f.libvlc_media_player_play = [](libvlc_media_player_t* p) {
        Record(p == kPlayer ? "play" : "play ?");
        return g_playResult;
    };
    f.libvlc_media_player_stop = [](libvlc_media_player_t* p) {
        Record(p == kPlayer ? "stop" : "stop ?");
    };
    return f;
}

TEST(VlcRuntimePreviewTest, PlaysThePreviewLocationWithItsCaching) {
    StartRecording();
    const VlcFunctions functions = RecordingFunctions();
    VlcRuntimePreview preview(functions);
    EXPECT_EQ(preview.Play("10.77.0.21", reinterpret_cast<void*>(0x1234)), "");
    EXPECT_EQ(preview.Play("10.77.0.22", reinterpret_cast<void*>(0x1234)), "");
    EXPECT_TRUE(preview.Close(std::chrono::seconds(10)));
    EXPECT_EQ(preview.Play("10.77.0.23", nullptr), "No picture: VLC could not be started");
    // The caller's calls in order, and the releases off its thread in order
    // (the first player's may come between the second player's calls).
    std::vector<std::string> own;
    std::vector<std::string> off;
    for (const std::string& call : Calls()) {
        (call.starts_with("[off] ") ? off : own).push_back(call);
    }
    const std::vector<std::string> expectedOwn = {
        "new --ignore-config --aout=adummy --no-osd --no-spu --no-video-title-show "
        "--no-disable-screensaver --gl=none --gles2=none",
        "media rtsp://10.77.0.21/channel1/1",
        "option :network-caching=300",
        "player",
        "media release",
        "hwnd 4660",
        "play",
        "media rtsp://10.77.0.22/channel1/1",
        "option :network-caching=300",
        "player",
        "media release",
        "hwnd 4660",
        "play",
    };
    EXPECT_EQ(own, expectedOwn);
    const std::vector<std::string> expectedOff = {
        "[off] stop", "[off] player release",  // the first camera's, replaced
        "[off] stop", "[off] player release",  // the second's, at Close
        "[off] release"};
    EXPECT_EQ(off, expectedOff);
}

TEST(VlcRuntimePreviewTest, NoConnectionWithoutAPlainAddress) {
    StartRecording();
    const VlcFunctions functions = RecordingFunctions();
    VlcRuntimePreview preview(functions);
    EXPECT_EQ(preview.Play("10.9.0.5:1@10.9.0.6", nullptr),
              "No picture: the camera reports no valid IP address");
    EXPECT_EQ(preview.Play("10.9.0.256", nullptr),
              "No picture: the camera reports no valid IP address");
    EXPECT_EQ(preview.Play("", nullptr), "No picture: no camera chosen");
    EXPECT_EQ(Calls().size(), 1u);  // the instance only
    // A player that does not start is released.
    g_playResult = -1;
    EXPECT_EQ(preview.Play("10.9.0.5", nullptr), "No picture: VLC could not be started");
    EXPECT_TRUE(preview.Close(std::chrono::seconds(10)));
    const std::vector<std::string> calls = Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
              (std::vector<std::string>{"[off] stop", "[off] player release", "[off] release"}));
}

#ifdef _WIN32
using NativeSocket = SOCKET;
void CloseNative(NativeSocket s) {
    closesocket(s);
}
#else
using NativeSocket = int;
void CloseNative(NativeSocket s) {
    close(s);
}
#endif

// A TCP socket on 127.0.0.1, bound to a port of the system's choice and
// listening or not; its port.
std::uint16_t LoopbackTcp(NativeSocket& s, bool listening) {
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(0x7f000001);
    bind(s, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    if (listening) {
        listen(s, 4);
    }
    socklen_t length = sizeof at;
    getsockname(s, reinterpret_cast<sockaddr*>(&at), &length);
    return ntohs(at.sin_port);
}

TEST(TcpReachTest, ConnectedRefusedOnLoopback) {
    NativeSocket listener{};
    const std::uint16_t open = LoopbackTcp(listener, true);
    ASSERT_NE(open, 0);
    EXPECT_EQ(TryTcpConnect(0x7f000001, open, std::chrono::seconds(2)), TcpReach::Connected);
    CloseNative(listener);
    // A port bound but not listening: the host refuses.
    NativeSocket bound{};
    const std::uint16_t closed = LoopbackTcp(bound, false);
    ASSERT_NE(closed, 0);
    EXPECT_EQ(TryTcpConnect(0x7f000001, closed, std::chrono::seconds(2)), TcpReach::Refused);
    CloseNative(bound);
}

// The stream a player "plays" for Stream Info and snapshots: counters set by
// the test, one video track, the snapshot event's handler as attached.
struct FakeStream {
    VlcMediaStats stats{};
    VlcMediaTrackHead track{0x34363268, 0, 0, kVlcVideoTrack};  // "h264"
    VlcMediaTrackHead* tracks[1] = {&track};
    int mediaReferences = 0;  // given by new_location and get_media, less those released
    int snapshotResult = 0;
    // A snapshot event the player sends as it stops (before its events are
    // detached): what the library may still send after Close.
    const char* snapshotAtStop = nullptr;
    std::vector<std::string> snapshots;
    void (*callback)(const libvlc_event_t*, void*) = nullptr;
    void* callbackData = nullptr;
    // Every event type attached and detached, and what the dialog callbacks
    // were given.
    std::vector<int> attached;
    const VlcDialogCallbacks* dialogs = nullptr;
    void* dialogData = nullptr;
};
FakeStream g_stream;

void SendSnapshotEvent(const char* file) {
    const VlcEventHead event{kVlcSnapshotTakenEvent, kPlayer, {file}};
    g_stream.callback(reinterpret_cast<const libvlc_event_t*>(&event), g_stream.callbackData);
}

VlcFunctions StreamFunctions() {
    g_stream = FakeStream{};
    VlcFunctions f = RecordingFunctions();
    f.libvlc_media_new_location = [](libvlc_instance_t*, const char*) {
        ++g_stream.mediaReferences;
        return kMedia;
    };
    f.libvlc_media_release = [](libvlc_media_t*) { --g_stream.mediaReferences; };
    f.libvlc_media_player_get_media = [](libvlc_media_player_t*) {
        ++g_stream.mediaReferences;
        return kMedia;
    };
    f.libvlc_media_get_stats = [](libvlc_media_t*, VlcMediaStats* stats) {
        *stats = g_stream.stats;
        return 1;
    };
    f.libvlc_media_tracks_get = [](libvlc_media_t*, VlcMediaTrackHead*** tracks) {
        g_stream.tracks[0] = &g_stream.track;
        *tracks = g_stream.tracks;
        return 1u;
    };
    f.libvlc_media_tracks_release = [](VlcMediaTrackHead**, unsigned) {};
    // No description: the code's four characters stand for it.
    f.libvlc_media_get_codec_description = [](int, std::uint32_t) -> const char* {
        return nullptr;
    };
    f.libvlc_video_get_size = [](libvlc_media_player_t*, unsigned, unsigned* w, unsigned* h) {
        *w = 640;
        *h = 480;
        return 0;
    };
    f.libvlc_media_player_event_manager = [](libvlc_media_player_t*) {
        return reinterpret_cast<libvlc_event_manager_t*>(0x40);
    };
    f.libvlc_event_attach = [](libvlc_event_manager_t*, int type,
                               void (*callback)(const libvlc_event_t*, void*), void* data) {
        g_stream.attached.push_back(type);
        g_stream.callback = callback;
        g_stream.callbackData = data;
        return 0;
    };
    f.libvlc_media_player_stop = [](libvlc_media_player_t*) {
        Record("stop");
        if (g_stream.snapshotAtStop != nullptr) {
            SendSnapshotEvent(g_stream.snapshotAtStop);
        }
    };
    f.libvlc_event_detach = [](libvlc_event_manager_t*, int type,
                               void (*)(const libvlc_event_t*, void*),
                               void*) { Record("detach " + std::to_string(type)); };
    f.libvlc_dialog_set_callbacks = [](libvlc_instance_t*, const VlcDialogCallbacks* callbacks,
                                       void* data) {
        Record(callbacks != nullptr ? "dialogs" : "dialogs none");
        g_stream.dialogs = callbacks;
        g_stream.dialogData = data;
    };
    f.libvlc_dialog_dismiss = [](libvlc_dialog_id* id) {
        Record("dismiss " + std::to_string(reinterpret_cast<std::uintptr_t>(id)));
        return 0;
    };
    f.libvlc_video_take_snapshot = [](libvlc_media_player_t*, unsigned video, const char* path,
                                      unsigned width, unsigned height) {
        g_stream.snapshots.push_back(std::string(path) + " " + std::to_string(video) + " " +
                                     std::to_string(width) + "x" + std::to_string(height));
        return g_stream.snapshotResult;
    };
    return f;
}

// How many times a call was made so far.
std::size_t CountOf(const std::string& call) {
    const std::vector<std::string> calls = Calls();
    return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
}

void SendEvent(int type, int voutCount = 0) {
    VlcEventHead event{type, kPlayer, {nullptr}};
    event.voutCount = voutCount;
    g_stream.callback(reinterpret_cast<const libvlc_event_t*>(&event), g_stream.callbackData);
}

// The calls from "dismiss", "detach", "dialogs", "stop" and "player release".
std::vector<std::string> EventCalls() {
    std::vector<std::string> calls;
    for (const std::string& call : Calls()) {
        for (const char* kind : {"dismiss", "detach", "dialogs", "stop", "player release"}) {
            const std::size_t at = call.starts_with("[off] ") ? 6 : 0;
            if (call.compare(at, std::string(kind).size(), kind) == 0) {
                calls.push_back(call);
                break;
            }
        }
    }
    return calls;
}

TEST(VlcRuntimePreviewTest, StreamEventsBecomeThePanesLines) {
    StartRecording();
    VlcRuntimePreview preview(StreamFunctions());
    std::mutex mutex;
    std::vector<std::pair<unsigned, StreamEvent>> told;
    preview.SetEventSink([&](unsigned player, StreamEvent event) {
        const std::lock_guard<std::mutex> lock(mutex);
        told.emplace_back(player, event);
    });
    // Nothing is connected to: the port's answers come from the test.
    std::vector<std::string> asked;
    std::vector<TcpReach> reaches = {TcpReach::Connected, TcpReach::Refused, TcpReach::NoAnswer};
    preview.SetReachProbe([&](std::uint32_t address, std::uint16_t port) {
        const std::lock_guard<std::mutex> lock(mutex);
        asked.push_back(std::to_string(address >> 24) + "." + std::to_string(address & 0xff) + ":" +
                        std::to_string(port));
        const TcpReach reach = reaches.front();
        reaches.erase(reaches.begin());
        return reach;
    });
    const auto toldCount = [&] {
        const std::lock_guard<std::mutex> lock(mutex);
        return told.size();
    };
    const auto waitForTold = [&](std::size_t count) {
        for (int i = 0; i < 500 && toldCount() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return toldCount() == count;
    };
    ASSERT_EQ(preview.Play("10.77.0.21", nullptr), "");
    const unsigned first = preview.PlayerNumber();
    EXPECT_NE(first, 0u);
    // Each of the stream's events on the first player, as the library sends them.
    EXPECT_EQ(g_stream.attached, (std::vector<int>{kVlcVoutEvent, kVlcEncounteredErrorEvent,
                                                   kVlcEndReachedEvent, kVlcSnapshotTakenEvent}));
    SendEvent(kVlcVoutEvent, 0);  // an output gone: no picture news
    SendEvent(kVlcVoutEvent, 1);
    SendEvent(kVlcEndReachedEvent);
    // A failure: its cause asked of the camera's RTSP port, off libvlc's
    // thread; the port connected (no stream), refused, did not answer.
    SendEvent(kVlcEncounteredErrorEvent);
    ASSERT_TRUE(waitForTold(3));
    SendEvent(kVlcEncounteredErrorEvent);
    ASSERT_TRUE(waitForTold(4));
    SendEvent(kVlcEncounteredErrorEvent);
    ASSERT_TRUE(waitForTold(5));
    using E = StreamEvent;
    EXPECT_EQ(told, (std::vector<std::pair<unsigned, E>>{{first, E::Picture},
                                                         {first, E::Stopped},
                                                         {first, E::NoStream},
                                                         {first, E::Refused},
                                                         {first, E::NoAnswer}}));
    EXPECT_EQ(asked, (std::vector<std::string>(3, "10.21:554")));
    EXPECT_EQ(preview.TakeEvent(first, E::Refused),
              "No picture: 10.77.0.21 refused the connection on RTSP port 554");
    EXPECT_EQ(preview.TakeEvent(first, E::NoAnswer), "No picture: no answer from 10.77.0.21");
    // The Linux pane's words for them.
    EXPECT_EQ(preview.TakeEvent(first, E::NoStream), "No picture: 10.77.0.21 sent no stream");
    EXPECT_EQ(preview.StreamInfoText(),
              "rtsp://10.77.0.21/channel1/1\nNo picture yet: 10.77.0.21 sent no stream");
    EXPECT_EQ(preview.TakeEvent(first, E::Stopped), "Stream stopped");
    EXPECT_EQ(preview.StreamInfoText(),
              "rtsp://10.77.0.21/channel1/1\nNo picture yet: stream stopped");
    EXPECT_EQ(preview.TakeEvent(first, E::Picture), "");
    EXPECT_EQ(preview.StreamInfoText().substr(0, 36), "rtsp://10.77.0.21/channel1/1\nCodec: ");

    // A camera that asks for a login through the library's question: told
    // as Unauthorized of the player that plays; taking it dismisses the
    // question once; the failure that follows leaves the line as it is.
    ASSERT_EQ(preview.Play("10.77.0.22", nullptr), "");
    const unsigned second = preview.PlayerNumber();
    EXPECT_NE(second, first);
    EXPECT_EQ(preview.TakeEvent(first, E::Picture), std::nullopt);  // replaced since
    ASSERT_NE(g_stream.dialogs, nullptr);
    ASSERT_NE(g_stream.dialogs->displayLogin, nullptr);
    ASSERT_NE(g_stream.dialogs->cancel, nullptr);
    auto* question = reinterpret_cast<libvlc_dialog_id*>(0x77);
    std::thread([&] {
        g_stream.dialogs->displayLogin(g_stream.dialogData, question, "Authentication",
                                       "rtsp://10.77.0.22", "", false);
    }).join();
    EXPECT_EQ(told.back(), std::make_pair(second, E::Unauthorized));
    // The login stays the reason when the stream fails after it; the
    // camera's port is not asked why.
    SendEvent(kVlcEncounteredErrorEvent);
    ASSERT_TRUE(waitForTold(7));
    EXPECT_EQ(told.back(), std::make_pair(second, E::NoStream));
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_EQ(preview.TakeEvent(second, E::Unauthorized),
              "No picture: 10.77.0.22 asks for a user name and password");
    EXPECT_EQ(preview.TakeEvent(second, E::Refused), std::nullopt);
    EXPECT_EQ(preview.TakeEvent(second, E::NoStream), std::nullopt);
    EXPECT_EQ(preview.StreamInfoText(),
              "rtsp://10.77.0.22/channel1/1\nNo picture yet: 10.77.0.22 asks for a user name "
              "and password");
    // Played again with the login: the media's options, this camera only.
    const std::string user = "admin";
    const std::string password = "p:w";
    ASSERT_EQ(preview.PlayLocation("rtsp://10.77.0.22/channel1/1", nullptr, &user, &password), "");
    std::vector<std::string> options;
    for (const std::string& call : Calls()) {
        if (call.starts_with("option ")) {
            options.push_back(call);
        }
    }
    const std::string caching = "option :network-caching=300";
    EXPECT_EQ(options,
              (std::vector<std::string>{caching, caching, caching, "option :rtsp-user=admin",
                                        "option :rtsp-pwd=p:w"}));
    // A question asked while the player stops is dismissed by the stop.
    g_stream.dialogs->displayLogin(g_stream.dialogData, question, "", "", "", false);
    const std::size_t toldBefore = told.size();
    const VlcDialogCallbacks* dialogs = g_stream.dialogs;
    void* dialogData = g_stream.dialogData;
    EXPECT_TRUE(preview.Close(std::chrono::seconds(10)));
    EXPECT_EQ(g_stream.dialogs, nullptr);
    // Nothing is told after Close.
    dialogs->displayLogin(dialogData, question, "", "", "", false);
    EXPECT_EQ(told.size(), toldBefore);
    // On the caller's thread: the callbacks set, each question dismissed
    // once; off it, each player's events detached after its stop and before
    // its release, and the callbacks gone before the instance.
    std::vector<std::string> own;
    std::vector<std::string> off;
    for (const std::string& call : EventCalls()) {
        (call.starts_with("[off] ") ? off : own).push_back(call);
    }
    EXPECT_EQ(own, (std::vector<std::string>{"dialogs", "dismiss 119", "dismiss 119"}));
    std::vector<std::string> expectedOff;
    for (int player = 0; player < 3; ++player) {
        expectedOff.insert(expectedOff.end(),
                           {"[off] stop", "[off] detach 274", "[off] detach 266",
                            "[off] detach 265", "[off] detach 272", "[off] player release"});
    }
    expectedOff.push_back("[off] dialogs none");
    EXPECT_EQ(off, expectedOff);
}

TEST(VlcRuntimePreviewTest, StreamInfoFromTheCountersAndSnapshotsOfThePictureShown) {
    StartRecording();
    VlcRuntimePreview preview(StreamFunctions());
    const std::string idle =
        "No picture yet: nothing plays in the preview; choose a camera and press Preview";
    EXPECT_EQ(preview.StreamInfoText(), idle);
    EXPECT_EQ(preview.TakeSnapshot("C:\\shot.png"), idle);

    ASSERT_EQ(preview.Play("10.77.0.21", nullptr), "");
    // Played, but no picture counted yet: no snapshot is asked for.
    preview.Sample(std::chrono::seconds(10));
    EXPECT_EQ(preview.StreamInfoText(),
              "rtsp://10.77.0.21/channel1/1\nNo picture yet: waiting for the stream's first "
              "picture");
    EXPECT_EQ(preview.TakeSnapshot("C:\\shot.png"),
              "No picture yet: waiting for the stream's first picture");
    g_stream.stats.readBytes = 125000;
    g_stream.stats.displayedPictures = 25;
    g_stream.stats.lostPictures = 2;
    preview.Sample(std::chrono::seconds(11));
    EXPECT_EQ(preview.StreamInfoText(),
              "rtsp://10.77.0.21/channel1/1\nCodec: h264\nResolution: 640 × 480\n"
              "Frame rate: 25.0 frames/s\nBitrate: 1.00 Mbit/s\nLost or late frames: 2");
    // Each reading released the media reference it took.
    EXPECT_EQ(g_stream.mediaReferences, 0);

    std::vector<std::string> answers;
    preview.SetSnapshotHandler([&](const std::string& file) { answers.push_back(file); });
    EXPECT_EQ(preview.TakeSnapshot("C:\\shot.png"), "");
    g_stream.snapshotResult = -1;
    EXPECT_EQ(preview.TakeSnapshot("C:\\other.png"),
              "No picture yet: the stream has no picture to keep at the moment");
    // At the stream's own size, of the first video.
    EXPECT_EQ(g_stream.snapshots,
              (std::vector<std::string>{"C:\\shot.png 0 0x0", "C:\\other.png 0 0x0"}));
    ASSERT_NE(g_stream.callback, nullptr);
    SendSnapshotEvent("C:\\shot.png");
    SendSnapshotEvent(nullptr);
    EXPECT_EQ(answers, (std::vector<std::string>{"C:\\shot.png", ""}));
    // A player replaced starts its figures afresh; none answers after Close.
    ASSERT_EQ(preview.Play("10.77.0.22", nullptr), "");
    EXPECT_EQ(preview.StreamInfoText(),
              "rtsp://10.77.0.22/channel1/1\nNo picture yet: waiting for the stream's first "
              "picture");
    // Once the player replaced is gone, the one playing sends a snapshot
    // event as it stops.
    for (int i = 0; i < 500 && CountOf("[off] player release") == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    g_stream.snapshotAtStop = "C:\\late.png";
    EXPECT_TRUE(preview.Close(std::chrono::seconds(10)));
    EXPECT_EQ(CountOf("[off] player release"), 2u);
    EXPECT_EQ(answers.size(), 2u);
}

}  // namespace
}  // namespace qdipc
