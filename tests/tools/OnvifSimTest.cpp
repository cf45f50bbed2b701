// The device-service client and --details against the simulated device
// service on a loopback port: the login on the device's clock (2 hours
// ahead), HTTP digest, refusals, and the HTTP client's time and size bounds.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "cli/CommandLineRun.h"
#include "cli/DetailsCommand.h"
#include "discovery/OnvifDevice.h"
#include "tools/onvifsim/DeviceServiceSim.h"

namespace qdipc {
namespace {

using namespace std::chrono;
using onvifsim::Behaviour;
using onvifsim::DeviceServiceSim;
using onvifsim::Login;
using onvifsim::SimOptions;

constexpr std::uint32_t kLoopback = 0x7F000001;

OnvifTarget TargetOf(const DeviceServiceSim& sim) {
    OnvifTarget target;
    target.address = kLoopback;
    target.port = sim.Port();
    return target;
}

SimOptions Options(Login login, Behaviour behaviour = Behaviour::Normal) {
    SimOptions options;
    options.login = login;
    options.behaviour = behaviour;
    return options;
}

TEST(OnvifSim, TokenLoginOnTheDeviceClockGivesEveryFact) {
    DeviceServiceSim sim(Options(Login::Token));
    ASSERT_TRUE(sim.Start());
    OnvifDeviceClient client(TargetOf(sim));
    client.SetLogin(OnvifLogin{"admin", "secret"});
    const OnvifDetails details = client.QueryDetails();
    ASSERT_EQ(details.status, OnvifStatus::Ok) << details.reason;
    ASSERT_TRUE(details.clockOffset);
    EXPECT_NEAR(static_cast<double>(details.clockOffset->count()), 7200.0, 2.0);
    EXPECT_EQ(details.manufacturer, "SimVendor");
    EXPECT_EQ(details.model, "SV-200 & Dome");
    EXPECT_EQ(details.firmware, "4.2.1");
    EXPECT_EQ(details.serial, "SN0042");
    EXPECT_EQ(details.hardwareId, "HW-7");
    ASSERT_EQ(details.interfaces.size(), 1u);
    EXPECT_EQ(details.interfaces[0].mac, "02:00:5e:10:20:30");
    EXPECT_EQ(details.interfaces[0].dhcp, std::optional<bool>(false));
    ASSERT_EQ(details.streams.size(), 2u);
    EXPECT_EQ(details.streams[0].profileName, "Main Stream");
    EXPECT_EQ(details.streams[0].uri, "rtsp://127.0.0.1:554/stream/main");
    EXPECT_EQ(details.streams[1].uri, "rtsp://127.0.0.1:554/stream/sub");
    EXPECT_EQ(sim.Refusals(), 0);
}

// The same login with this PC's time in the token: the simulator's clock is
// 2 hours ahead and refuses it. The clock call is made to fail, so that the
// client cannot learn the offset.
TEST(OnvifSim, TokenOnThisPcsClockIsRefused) {
    DeviceServiceSim sim(Options(Login::Token));
    ASSERT_TRUE(sim.Start());
    HttpPoster noClock = [](const HttpRequest& request) {
        if (request.body.find("GetSystemDateAndTime") != std::string::npos) {
            HttpResponse broken;
            broken.outcome = HttpOutcome::Answered;
            broken.status = 500;
            return broken;
        }
        return HttpPost(request);
    };
    OnvifDeviceClient client(TargetOf(sim), noClock);
    client.SetLogin(OnvifLogin{"admin", "secret"});
    const OnvifDetails details = client.QueryDetails();
    EXPECT_FALSE(details.clockOffset);
    EXPECT_EQ(details.status, OnvifStatus::Refused);
    EXPECT_EQ(sim.Refusals(), 1);
}

TEST(OnvifSim, WrongPasswordAndNoLoginAreToldApart) {
    DeviceServiceSim sim(Options(Login::Token));
    ASSERT_TRUE(sim.Start());
    OnvifDeviceClient client(TargetOf(sim));
    EXPECT_EQ(client.QueryDetails().status, OnvifStatus::NeedsLogin);
    client.SetLogin(OnvifLogin{"admin", "wrong"});
    const OnvifDetails refused = client.QueryDetails();
    EXPECT_EQ(refused.status, OnvifStatus::Refused);
    EXPECT_NE(refused.reason.find("refused the user name and password"), std::string::npos);
}

TEST(OnvifSim, HttpDigestLogin) {
    DeviceServiceSim sim(Options(Login::HttpDigest));
    ASSERT_TRUE(sim.Start());
    OnvifDeviceClient client(TargetOf(sim));
    EXPECT_EQ(client.QueryDetails().status, OnvifStatus::NeedsLogin);
    client.SetLogin(OnvifLogin{"admin", "secret"});
    const OnvifDetails details = client.QueryDetails();
    ASSERT_EQ(details.status, OnvifStatus::Ok) << details.reason;
    EXPECT_EQ(details.serial, "SN0042");
    client.SetLogin(OnvifLogin{"admin", "wrong"});
    EXPECT_EQ(client.QueryDetails().status, OnvifStatus::Refused);
}

TEST(OnvifSim, FirstRtspUriOnlyForTheSameHost) {
    DeviceServiceSim sim(Options(Login::Token));
    ASSERT_TRUE(sim.Start());
    OnvifDeviceClient client(TargetOf(sim));
    client.SetLogin(OnvifLogin{"admin", "secret"});
    const auto answer = client.FirstRtspUri();
    EXPECT_EQ(answer.status, OnvifStatus::Ok) << answer.reason;
    EXPECT_EQ(answer.uri, "rtsp://127.0.0.1:554/stream/main");

    SimOptions elsewhere = Options(Login::Token);
    elsewhere.streamHost = "127.0.0.2";
    DeviceServiceSim other(elsewhere);
    ASSERT_TRUE(other.Start());
    OnvifDeviceClient otherClient(TargetOf(other));
    otherClient.SetLogin(OnvifLogin{"admin", "secret"});
    const auto refused = otherClient.FirstRtspUri();
    EXPECT_EQ(refused.status, OnvifStatus::BadAnswer);
    EXPECT_EQ(refused.uri, "");
    EXPECT_NE(refused.reason.find("another host than 127.0.0.1"), std::string::npos);
}

HttpRequest PostTo(const DeviceServiceSim& sim) {
    HttpRequest request;
    request.address = kLoopback;
    request.port = sim.Port();
    request.path = "/onvif/device_service";
    request.body = "<GetDeviceInformation/>";
    return request;
}

TEST(HttpClientBounds, ServerThatNeverAnswersEndsInTime) {
    DeviceServiceSim sim(Options(Login::None, Behaviour::Silent));
    ASSERT_TRUE(sim.Start());
    const auto start = steady_clock::now();
    const HttpResponse response = HttpPost(PostTo(sim));
    const auto took = steady_clock::now() - start;
    EXPECT_EQ(response.outcome, HttpOutcome::TimedOut);
    EXPECT_NE(response.error.find("no answer from 127.0.0.1"), std::string::npos);
    // The default total limit is 5 s; a generous ceiling, not a speed target.
    EXPECT_GE(took, kHttpTotalLimit - milliseconds(100));
    EXPECT_LT(took, seconds(15));
}

TEST(HttpClientBounds, AnswerLargerThanTheLimitIsRefusedAtTheByte) {
    DeviceServiceSim sim(Options(Login::None, Behaviour::Huge));  // 2 MiB of text
    ASSERT_TRUE(sim.Start());
    HttpResponse response = HttpPost(PostTo(sim));
    EXPECT_EQ(response.outcome, HttpOutcome::TooLarge);
    EXPECT_EQ(response.body, "");

    SimOptions small = Options(Login::None, Behaviour::Huge);
    small.hugeBytes = 5000;
    DeviceServiceSim smallSim(small);
    ASSERT_TRUE(smallSim.Start());
    HttpRequest request = PostTo(smallSim);
    const std::size_t size = HttpPost(request).body.size();
    ASSERT_GT(size, 5000u);
    request.maxResponse = size;
    EXPECT_EQ(HttpPost(request).outcome, HttpOutcome::Answered);
    request.maxResponse = size - 1;
    EXPECT_EQ(HttpPost(request).outcome, HttpOutcome::TooLarge);
}

TEST(HttpClientBounds, RefusedConnection) {
    std::uint16_t port = 0;
    {
        DeviceServiceSim sim(Options(Login::None));
        ASSERT_TRUE(sim.Start());
        port = sim.Port();
    }  // closed: nobody listens on the port now
    HttpRequest request;
    request.address = kLoopback;
    request.port = port;
    EXPECT_EQ(HttpPost(request).outcome, HttpOutcome::Refused);
}

// --details as the command line runs it.
struct DetailsRun {
    int code;
    std::string out;
    std::string err;
};

DetailsRun RunArgs(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCommandLine(ParseCommandLine(args), out, err);
    return {code, out.str(), err.str()};
}

class DetailsCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_passwordFile = ::testing::TempDir() + "onvif-password-" +
                         std::to_string(reinterpret_cast<std::uintptr_t>(this));
        std::ofstream(m_passwordFile) << "secret\n";
    }
    void TearDown() override { std::remove(m_passwordFile.c_str()); }
    std::string m_passwordFile;
};

TEST_F(DetailsCommandTest, TextJsonAndExitCodes) {
    DeviceServiceSim sim(Options(Login::Token));
    ASSERT_TRUE(sim.Start());
    const std::string target = "127.0.0.1:" + std::to_string(sim.Port());

    const DetailsRun text =
        RunArgs({"--details", target, "--user", "admin", "--password-file", m_passwordFile});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_NE(text.out.find("Manufacturer:  SimVendor\n"), std::string::npos);
    EXPECT_NE(text.out.find("Serial number: SN0042\n"), std::string::npos);
    EXPECT_NE(text.out.find("Interface:     eth0 MAC 02:00:5e:10:20:30 static\n"),
              std::string::npos);
    EXPECT_NE(text.out.find("Stream:        Main Stream (main) rtsp://127.0.0.1:554/stream/main\n"),
              std::string::npos);

    const DetailsRun json = RunArgs({"--details=" + target, "--format", "json", "--user", "admin",
                                     "--password-file", m_passwordFile});
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(json.out.rfind("{\"address\": \"127.0.0.1\", \"manufacturer\": \"SimVendor\", "
                             "\"model\": \"SV-200 & Dome\", ",
                             0),
              0u)
        << json.out;
    EXPECT_NE(json.out.find("\"addressing\": \"static\""), std::string::npos);

    // No login: the device wants one (3); a wrong password (3).
    const DetailsRun noLogin = RunArgs({"--details", target});
    EXPECT_EQ(noLogin.code, 3);
    EXPECT_NE(noLogin.err.find("asks for a user name and password"), std::string::npos);
    EXPECT_EQ(noLogin.out, "");
    std::ofstream(m_passwordFile) << "wrong\n";
    EXPECT_EQ(
        RunArgs({"--details", target, "--user", "admin", "--password-file", m_passwordFile}).code,
        3);
}

TEST_F(DetailsCommandTest, UsageFaultsSendNothing) {
    DeviceServiceSim sim(Options(Login::Token));
    ASSERT_TRUE(sim.Start());
    const std::string port = std::to_string(sim.Port());
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--details", "127.0.0.01:" + port},
             {"--details", "127.0.0.1:" + port + "@127.0.0.2"},
             {"--details"},
             {"--details", "127.0.0.1:" + port, "--format", "csv"},
             {"--details", "127.0.0.1:" + port, "--password-file", m_passwordFile},
             {"--details", "127.0.0.1:" + port, "--user", "admin", "--password-file",
              m_passwordFile + ".missing"}}) {
        EXPECT_EQ(RunArgs(args).code, 2) << args.back();
    }
    EXPECT_EQ(sim.Served(), 0);
}

TEST(DetailsPrompt, PasswordAskedWhenNoFileGiven) {
    DeviceServiceSim sim(Options(Login::Token));
    ASSERT_TRUE(sim.Start());
    DetailsOptions options;
    options.target = "127.0.0.1:" + std::to_string(sim.Port());
    options.user = "admin";
    std::string asked;
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunDetails(options, out, err, [&](const std::string& prompt) {
        asked = prompt;
        return std::optional<std::string>("secret");
    });
    EXPECT_EQ(code, 0) << err.str();
    EXPECT_EQ(asked, "Password for admin at 127.0.0.1: ");
    // Without a terminal and without a file: a usage fault, nothing sent.
    const int noTerminal = RunDetails(
        options, out, err, [](const std::string&) { return std::optional<std::string>(); });
    EXPECT_EQ(noTerminal, 2);
}

}  // namespace
}  // namespace qdipc
