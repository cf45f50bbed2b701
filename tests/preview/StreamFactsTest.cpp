// The stream's facts from the media library's counters: rates from
// successive readings, what is kept between them, and the texts the pane,
// the row menu and the command line show.

#include "preview/StreamFacts.h"

#include <gtest/gtest.h>

#include <vector>

namespace qdipc {
namespace {

using std::chrono::milliseconds;

StreamStatsSample Reading(int ms, std::int64_t shown, std::int64_t bytes, std::int64_t lost = 0) {
    StreamStatsSample sample;
    sample.at = milliseconds(ms);
    sample.codec = "H264 - MPEG-4 AVC (part 10)";
    sample.width = 1280;
    sample.height = 720;
    sample.displayedPictures = shown;
    sample.readBytes = bytes;
    sample.lostPictures = lost;
    return sample;
}

TEST(StreamFactsTest, RatesComeFromSuccessiveReadings) {
    struct Case {
        const char* name;
        std::vector<StreamStatsSample> readings;
        std::optional<double> fps;
        std::optional<double> bps;
        std::int64_t lost;
    };
    const std::vector<Case> cases = {
        {"one reading: nothing to measure yet", {Reading(0, 10, 5000)}, {}, {}, 0},
        {"two readings a second apart",
         {Reading(1000, 10, 5000), Reading(2000, 35, 130000)},
         25.0,
         1000000.0,
         0},
        {"half a second apart", {Reading(0, 0, 0), Reading(500, 15, 62500)}, 30.0, 1000000.0, 0},
        // The window reaches 4 s back: the slow start at 10/s drops out.
        {"only the last four seconds count",
         {Reading(0, 0, 0), Reading(1000, 10, 1000), Reading(2000, 40, 2000),
          Reading(3000, 70, 3000), Reading(4000, 100, 4000), Reading(5000, 130, 5000)},
         30.0,
         8000.0,
         0},
        // A reading exactly at the window's edge stays in it.
        {"the edge of the window stays",
         {Reading(0, 0, 0), Reading(2000, 20, 2000), Reading(4000, 100, 4000)},
         25.0,
         8000.0,
         0},
        // A gap longer than the window still measures from the reading before.
        {"a late reading", {Reading(0, 0, 0), Reading(10000, 250, 0)}, 25.0, 0.0, 0},
        // Another stream or a restarted player: its counters start again.
        {"a counter that goes back starts afresh",
         {Reading(0, 500, 90000), Reading(1000, 525, 100000), Reading(2000, 3, 100)},
         {},
         {},
         0},
        {"time that does not advance starts afresh",
         {Reading(1000, 0, 0), Reading(1000, 25, 100)},
         {},
         {},
         0},
        {"lost or late frames are the newest total",
         {Reading(0, 0, 0, 2), Reading(1000, 20, 1000, 7)},
         20.0,
         8000.0,
         7},
        {"a still picture shows no new frames",
         {Reading(0, 50, 800), Reading(1000, 50, 800)},
         0.0,
         0.0,
         0},
    };
    for (const Case& c : cases) {
        StreamFactsMeter meter;
        for (const StreamStatsSample& reading : c.readings) {
            meter.Add(reading);
        }
        const StreamFacts facts = meter.Facts();
        EXPECT_EQ(facts.framesPerSecond.has_value(), c.fps.has_value()) << c.name;
        if (facts.framesPerSecond && c.fps) {
            EXPECT_NEAR(*facts.framesPerSecond, *c.fps, 1e-9) << c.name;
        }
        EXPECT_EQ(facts.bitsPerSecond.has_value(), c.bps.has_value()) << c.name;
        if (facts.bitsPerSecond && c.bps) {
            EXPECT_NEAR(*facts.bitsPerSecond, *c.bps, 1e-6) << c.name;
        }
        EXPECT_EQ(facts.lostPictures, c.lost) << c.name;
    }
}

TEST(StreamFactsTest, CodecAndSizeOutliveAReadingThatMissesThem) {
    StreamFactsMeter meter;
    EXPECT_TRUE(meter.Empty());
    EXPECT_FALSE(meter.Facts().picture);
    StreamStatsSample first = Reading(0, 0, 0);
    meter.Add(first);
    EXPECT_FALSE(meter.Facts().picture);  // nothing shown yet
    StreamStatsSample bare = Reading(1000, 25, 100);
    bare.codec.clear();
    bare.width = 0;
    bare.height = 0;
    meter.Add(bare);
    const StreamFacts facts = meter.Facts();
    EXPECT_TRUE(facts.picture);
    EXPECT_EQ(facts.codec, "H264 - MPEG-4 AVC (part 10)");
    EXPECT_EQ(facts.width, 1280u);
    EXPECT_EQ(facts.height, 720u);
    meter.Reset();
    EXPECT_TRUE(meter.Empty());
    EXPECT_EQ(meter.Facts().width, 0u);
}

TEST(StreamFactsTest, TextsAsShown) {
    StreamFacts facts;
    EXPECT_EQ(FormatStreamFacts(facts),
              "Codec: unknown\nResolution: unknown\nFrame rate: measuring…\nBitrate: "
              "measuring…\nLost or late frames: 0");
    facts.codec = "H264 - MPEG-4 AVC (part 10)";
    facts.width = 1920;
    facts.height = 1080;
    facts.framesPerSecond = 24.96;
    facts.bitsPerSecond = 1523400;
    facts.lostPictures = 12;
    EXPECT_EQ(FormatStreamFacts(facts),
              "Codec: H264 - MPEG-4 AVC (part 10)\nResolution: 1920 × 1080\nFrame rate: 25.0 "
              "frames/s\nBitrate: 1.52 Mbit/s\nLost or late frames: 12");

    // Each unit up to where its rounded figure would reach 1000.
    const std::vector<std::pair<double, std::string>> rates = {
        {0, "0 bit/s"},         {999.4, "999 bit/s"},       {999.5, "1 kbit/s"},
        {830000, "830 kbit/s"}, {999499, "999 kbit/s"},     {999500, "1.00 Mbit/s"},
        {1e6, "1.00 Mbit/s"},   {12345678, "12.35 Mbit/s"}, {-5, "0 bit/s"},
    };
    for (const auto& [bps, text] : rates) {
        EXPECT_EQ(FormatBitrate(bps), text) << bps;
    }

    EXPECT_EQ(NoPictureYetText("no answer from 10.0.0.5"),
              "No picture yet: no answer from 10.0.0.5");
    EXPECT_EQ(PreviewLocationFor("10.0.0.5"), "rtsp://10.0.0.5/channel1/1");
    EXPECT_EQ(PreviewLocationFor(""), "rtsp:///channel1/1");
}

TEST(StreamFactsTest, ReasonsForNoPicture) {
    const std::vector<std::pair<StreamEvent, std::string>> reasons = {
        {StreamEvent::Picture, ""},
        {StreamEvent::Refused, "No picture: 10.0.0.5 refused the connection on RTSP port 8554"},
        {StreamEvent::NoAnswer, "No picture: no answer from 10.0.0.5"},
        {StreamEvent::Unauthorized, "No picture: 10.0.0.5 asks for a user name and password"},
        {StreamEvent::NoVideo, "No picture: the stream has no video"},
        {StreamEvent::NoStream, "No picture: 10.0.0.5 sent no stream"},
        {StreamEvent::Stopped, "Stream stopped"},
    };
    for (const auto& [event, text] : reasons) {
        EXPECT_EQ(NoPictureReason(event, "10.0.0.5", 8554), text);
    }
    // Without a host there is no camera to blame; a stop stays a stop.
    EXPECT_EQ(NoPictureReason(StreamEvent::NoAnswer, "", 554), "No picture: no camera chosen");
    EXPECT_EQ(NoPictureReason(StreamEvent::Stopped, "", 554), "Stream stopped");
}

}  // namespace
}  // namespace qdipc
