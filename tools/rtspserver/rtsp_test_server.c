/* A standard RTSP server (GStreamer's RTSP server library) that serves a live
 * H.264 test pattern, for the preview tests, the benchmark and demos.
 *
 *   rtsp_test_server [--address A] [--port P] [--path /p] [--protocols udp|tcp|all]
 *                    [--timeout SECONDS] [--gop FRAMES] [--flip-every MILLISECONDS]
 *                    [--size WIDTHxHEIGHT] [--picture moving|still]
 *                    [--credentials USER:PASSWORD] [--stop-after SECONDS]
 *
 * The picture is 320x240 at 25 frames a second unless --size says otherwise.
 * --picture still keeps the colour bars where they are: after each key frame
 * the encoder sends almost nothing until the next one, as a camera watching a
 * scene where nothing moves (a car park at night) does.
 *
 * Prints "ready rtsp://A:P/p" on standard output once it listens, and ends by
 * itself after --timeout seconds (default 60), on SIGINT or SIGTERM. Exits 2
 * on bad arguments and 3 when the address cannot be bound.
 *
 * --flip-every switches the picture between the colour bars and plain white
 * at that interval while a client watches, and prints "flip bars|white T" at
 * each switch, T being CLOCK_MONOTONIC in milliseconds: a client on the same
 * machine can time when the change reaches its screen.
 *
 * --credentials makes the stream ask for a user name and password (RTSP basic
 * authentication, 401 without them), as most cameras do.
 *
 * --stop-after makes the stream go silent that many seconds after a client
 * started it: no more packets, the connection stays open, as a camera whose
 * encoder hung. Prints "stopped T" then (T as above). */

#include <glib-unix.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef struct {
    const char* address;
    const char* port;
    const char* path;
    const char* protocols;
    int timeout_s;
    int gop;
    int flip_ms;
    int width;
    int height;
    int still;
    const char* credentials;
    int stop_after_s;
} ServerOptions;

/* The test source of the media playing now (one media, shared by all
 * clients), for --flip-every. */
static GstElement* g_source = NULL;
static gboolean g_white = FALSE;
/* videotestsrc patterns: 0 SMPTE bars (with a noise block), 3 white, 13 SMPTE
 * 75 % bars (nothing that changes) */
static int g_bars_pattern = 0;
/* --stop-after in microseconds of the monotonic clock, and when the media
 * playing now was made */
static gint64 g_stop_after_us = 0;
static gint64 g_media_started_us = 0;
static gboolean g_stop_reported = FALSE;

static int parse_options(int argc, char** argv, ServerOptions* opt) {
    for (int i = 1; i < argc; ++i) {
        const char* key = argv[i];
        if (i + 1 >= argc) {
            fprintf(stderr, "missing value for %s\n", key);
            return -1;
        }
        const char* value = argv[++i];
        if (strcmp(key, "--address") == 0) {
            opt->address = value;
        } else if (strcmp(key, "--port") == 0) {
            opt->port = value;
        } else if (strcmp(key, "--path") == 0) {
            opt->path = value;
        } else if (strcmp(key, "--protocols") == 0) {
            opt->protocols = value;
        } else if (strcmp(key, "--timeout") == 0) {
            opt->timeout_s = atoi(value);
        } else if (strcmp(key, "--gop") == 0) {
            opt->gop = atoi(value);
        } else if (strcmp(key, "--flip-every") == 0) {
            opt->flip_ms = atoi(value);
        } else if (strcmp(key, "--size") == 0) {
            if (sscanf(value, "%dx%d", &opt->width, &opt->height) != 2) {
                fprintf(stderr, "--size must be WIDTHxHEIGHT\n");
                return -1;
            }
        } else if (strcmp(key, "--picture") == 0) {
            if (strcmp(value, "moving") != 0 && strcmp(value, "still") != 0) {
                fprintf(stderr, "--picture must be moving or still\n");
                return -1;
            }
            opt->still = strcmp(value, "still") == 0;
        } else if (strcmp(key, "--credentials") == 0) {
            if (strchr(value, ':') == NULL || value[0] == ':') {
                fprintf(stderr, "--credentials must be USER:PASSWORD\n");
                return -1;
            }
            opt->credentials = value;
        } else if (strcmp(key, "--stop-after") == 0) {
            opt->stop_after_s = atoi(value);
            if (opt->stop_after_s <= 0) {
                fprintf(stderr, "--stop-after must be positive\n");
                return -1;
            }
        } else {
            fprintf(stderr, "unknown option %s\n", key);
            return -1;
        }
    }
    if (opt->path[0] != '/' || opt->timeout_s <= 0 || opt->gop <= 0 || opt->flip_ms < 0 ||
        opt->width < 16 || opt->height < 16 || opt->width > 4096 || opt->height > 4096 ||
        opt->width % 2 != 0 || opt->height % 2 != 0) {
        fprintf(stderr,
                "the path must start with '/', timeout and gop must be positive, the size even "
                "and between 16 and 4096\n");
        return -1;
    }
    return 0;
}

static void print_event(const char* what) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    printf("%s %lld\n", what, (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000);
    fflush(stdout);
}

/* Drops every packet once the stream has run for --stop-after seconds. */
static GstPadProbeReturn silence_after(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    (void)pad;
    (void)info;
    (void)data;
    if (g_get_monotonic_time() - g_media_started_us < g_stop_after_us) {
        return GST_PAD_PROBE_OK;
    }
    if (!g_stop_reported) {
        g_stop_reported = TRUE;
        print_event("stopped");
    }
    return GST_PAD_PROBE_DROP;
}

static void on_media_configure(GstRTSPMediaFactory* factory, GstRTSPMedia* media, gpointer data) {
    (void)factory;
    (void)data;
    GstElement* bin = gst_rtsp_media_get_element(media);
    GstElement* source = gst_bin_get_by_name(GST_BIN(bin), "src");
    if (g_stop_after_us > 0) {
        GstElement* pay = gst_bin_get_by_name(GST_BIN(bin), "pay0");
        GstPad* pad = gst_element_get_static_pad(pay, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST,
                          silence_after, NULL, NULL);
        gst_object_unref(pad);
        gst_object_unref(pay);
        g_media_started_us = g_get_monotonic_time();
        g_stop_reported = FALSE;
    }
    gst_object_unref(bin);
    if (g_source != NULL) {
        gst_object_unref(g_source);
    }
    g_source = source;
    g_white = FALSE;
}

static gboolean flip_picture(gpointer data) {
    (void)data;
    if (g_source == NULL) {
        return G_SOURCE_CONTINUE;
    }
    g_white = !g_white;
    g_object_set(g_source, "pattern", g_white ? 3 : g_bars_pattern, NULL);
    print_event(g_white ? "flip white" : "flip bars");
    return G_SOURCE_CONTINUE;
}

static gboolean quit_loop(gpointer loop) {
    g_main_loop_quit((GMainLoop*)loop);
    return G_SOURCE_REMOVE;
}

int main(int argc, char** argv) {
    ServerOptions opt = {"127.0.0.1", "8554", "/channel1/1", "all", 60,   25,
                         0,           320,    240,           0,     NULL, 0};
    gst_init(&argc, &argv);
    if (parse_options(argc, argv, &opt) != 0)
        return 2;

    g_bars_pattern = opt.still ? 13 : 0;
    g_stop_after_us = (gint64)opt.stop_after_s * G_USEC_PER_SEC;
    GstRTSPLowerTrans protocols;
    if (strcmp(opt.protocols, "udp") == 0) {
        protocols = GST_RTSP_LOWER_TRANS_UDP;
    } else if (strcmp(opt.protocols, "tcp") == 0) {
        protocols = GST_RTSP_LOWER_TRANS_TCP;
    } else if (strcmp(opt.protocols, "all") == 0) {
        protocols = GST_RTSP_LOWER_TRANS_UDP | GST_RTSP_LOWER_TRANS_TCP;
    } else {
        fprintf(stderr, "--protocols must be udp, tcp or all\n");
        return 2;
    }

    /* SMPTE colour bars, easy to recognise, scrolling sideways so that every
     * frame differs from the one before (unless --picture still). Key frame
     * every --gop frames, as a camera's GOP setting; parameter sets travel in
     * the SDP, as many cameras do. The still picture is the 75 % bars without
     * the noise block of the full SMPTE pattern: after a key frame the encoder
     * sends a few dozen bytes a frame. */
    gchar* launch = g_strdup_printf(
        "( videotestsrc name=src pattern=%s horizontal-speed=%d is-live=true "
        "! video/x-raw,width=%d,height=%d,framerate=25/1 "
        "! x264enc tune=zerolatency speed-preset=ultrafast key-int-max=%d "
        "! video/x-h264,profile=constrained-baseline "
        "! rtph264pay name=pay0 pt=96 )",
        opt.still ? "smpte75" : "smpte", opt.still ? 0 : 4, opt.width, opt.height, opt.gop);

    GMainLoop* loop = g_main_loop_new(NULL, FALSE);
    GstRTSPServer* server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, opt.address);
    gst_rtsp_server_set_service(server, opt.port);

    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launch);
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    gst_rtsp_media_factory_set_protocols(factory, protocols);
    g_signal_connect(factory, "media-configure", G_CALLBACK(on_media_configure), NULL);
    if (opt.credentials != NULL) {
        /* One user who may see and start the stream; everyone else gets 401. */
        gchar** parts = g_strsplit(opt.credentials, ":", 2);
        GstRTSPAuth* auth = gst_rtsp_auth_new();
        GstRTSPToken* token =
            gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "viewer", NULL);
        gchar* basic = gst_rtsp_auth_make_basic(parts[0], parts[1]);
        gst_rtsp_auth_add_basic(auth, basic, token);
        g_free(basic);
        gst_rtsp_token_unref(token);
        gst_rtsp_server_set_auth(server, auth);
        g_object_unref(auth);
        g_strfreev(parts);
        gst_rtsp_media_factory_add_role(factory, "viewer", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                        G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                        G_TYPE_BOOLEAN, TRUE, NULL);
    }
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
    gst_rtsp_mount_points_add_factory(mounts, opt.path, factory);
    g_object_unref(mounts);
    g_free(launch);

    GError* error = NULL;
    GSource* source = gst_rtsp_server_create_source(server, NULL, &error);
    if (source == NULL) {
        fprintf(stderr, "cannot listen on %s:%s: %s\n", opt.address, opt.port,
                error ? error->message : "unknown error");
        g_clear_error(&error);
        g_object_unref(server);
        g_main_loop_unref(loop);
        return 3;
    }
    g_source_attach(source, NULL);

    g_timeout_add_seconds((guint)opt.timeout_s, quit_loop, loop);
    if (opt.flip_ms > 0) {
        g_timeout_add((guint)opt.flip_ms, flip_picture, NULL);
    }
    g_unix_signal_add(SIGINT, quit_loop, loop);
    g_unix_signal_add(SIGTERM, quit_loop, loop);

    printf("ready rtsp://%s:%s%s\n", opt.address, opt.port, opt.path);
    fflush(stdout);
    g_main_loop_run(loop);

    if (g_source != NULL) {
        gst_object_unref(g_source);
    }
    g_source_destroy(source);
    g_source_unref(source);
    g_object_unref(server);
    g_main_loop_unref(loop);
    return 0;
}
