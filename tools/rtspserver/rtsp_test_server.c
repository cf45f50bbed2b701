/* A standard RTSP server (GStreamer's RTSP server library) that serves a live
 * H.264 test pattern, for the preview tests, the benchmark and demos.
 *
 *   rtsp_test_server [--address A] [--port P] [--path /p] [--protocols udp|tcp|all]
 *                    [--timeout SECONDS] [--gop FRAMES] [--flip-every MILLISECONDS]
 *
 * Prints "ready rtsp://A:P/p" on standard output once it listens, and ends by
 * itself after --timeout seconds (default 60), on SIGINT or SIGTERM. Exits 2
 * on bad arguments and 3 when the address cannot be bound.
 *
 * --flip-every switches the picture between the colour bars and plain white
 * at that interval while a client watches, and prints "flip bars|white T" at
 * each switch, T being CLOCK_MONOTONIC in milliseconds: a client on the same
 * machine can time when the change reaches its screen. */

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
} ServerOptions;

/* The test source of the media playing now (one media, shared by all
 * clients), for --flip-every. */
static GstElement* g_source = NULL;
static gboolean g_white = FALSE;

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
        } else {
            fprintf(stderr, "unknown option %s\n", key);
            return -1;
        }
    }
    if (opt->path[0] != '/' || opt->timeout_s <= 0 || opt->gop <= 0 || opt->flip_ms < 0) {
        fprintf(stderr, "the path must start with '/', timeout and gop must be positive\n");
        return -1;
    }
    return 0;
}

static void on_media_configure(GstRTSPMediaFactory* factory, GstRTSPMedia* media, gpointer data) {
    (void)factory;
    (void)data;
    GstElement* bin = gst_rtsp_media_get_element(media);
    GstElement* source = gst_bin_get_by_name(GST_BIN(bin), "src");
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
    /* videotestsrc patterns: 0 SMPTE bars, 3 white */
    g_object_set(g_source, "pattern", g_white ? 3 : 0, NULL);
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    printf("flip %s %lld\n", g_white ? "white" : "bars",
           (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000);
    fflush(stdout);
    return G_SOURCE_CONTINUE;
}

static gboolean quit_loop(gpointer loop) {
    g_main_loop_quit((GMainLoop*)loop);
    return G_SOURCE_REMOVE;
}

int main(int argc, char** argv) {
    ServerOptions opt = {"127.0.0.1", "8554", "/channel1/1", "all", 60, 25, 0};
    gst_init(&argc, &argv);
    if (parse_options(argc, argv, &opt) != 0)
        return 2;

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

    /* SMPTE colour bars scrolling sideways: easy to recognise, and every frame
     * differs from the one before. Key frame every --gop frames, as a camera's
     * GOP setting; parameter sets travel in the SDP, as many cameras do. */
    gchar* launch = g_strdup_printf(
        "( videotestsrc name=src pattern=smpte horizontal-speed=4 is-live=true "
        "! video/x-raw,width=320,height=240,framerate=25/1 "
        "! x264enc tune=zerolatency speed-preset=ultrafast key-int-max=%d "
        "! video/x-h264,profile=constrained-baseline "
        "! rtph264pay name=pay0 pt=96 )",
        opt.gop);

    GMainLoop* loop = g_main_loop_new(NULL, FALSE);
    GstRTSPServer* server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, opt.address);
    gst_rtsp_server_set_service(server, opt.port);

    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launch);
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    gst_rtsp_media_factory_set_protocols(factory, protocols);
    g_signal_connect(factory, "media-configure", G_CALLBACK(on_media_configure), NULL);
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
