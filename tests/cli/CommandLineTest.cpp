// The command line: what each argument list asks for, what is refused (and
// so never sent), and the three output formats of --list with the text rules
// for the cells.

#include "cli/CommandLine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/BatchCommand.h"
#include "cli/CommandLineRun.h"
#include "discovery/DeviceList.h"
#include "discovery/ListOutput.h"
#ifdef QDIPC_TEST_WITH_CAMSIM
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/discovery/LoopbackHelpers.h"
#include "tools/camsim/CamSimThread.h"
#endif

namespace qdipc {
namespace {

using Args = std::vector<std::string>;

ListRecord Record(std::initializer_list<const char*> cells) {
    ListRecord record;
    std::size_t c = 0;
    for (const char* cell : cells) {
        record[c++] = cell;
    }
    return record;
}

TEST(CommandLineTest, ModesAndValues) {
    EXPECT_EQ(ParseCommandLine({}).mode, CommandMode::Window);
    const CommandLine window = ParseCommandLine({"--no-firewall"});
    EXPECT_EQ(window.mode, CommandMode::Window);
    EXPECT_TRUE(window.noFirewall);
    EXPECT_FALSE(ParseCommandLine({}).noFirewall);
    EXPECT_EQ(ParseCommandLine({"--version"}).mode, CommandMode::Version);
    // --help wins over everything else that parses.
    EXPECT_EQ(ParseCommandLine({"--list", "--help", "--version"}).mode, CommandMode::Help);

    const CommandLine plain = ParseCommandLine({"--list"});
    EXPECT_EQ(plain.mode, CommandMode::List);
    EXPECT_EQ(plain.list.waitMs, 2000);
    EXPECT_EQ(plain.list.format, ListFormat::Tsv);
    EXPECT_EQ(plain.list.interfaceName, "");

    const CommandLine list =
        ParseCommandLine({"--list", "--format=json", "--wait", "0", "--interface", "eth1"});
    EXPECT_EQ(list.mode, CommandMode::List);
    EXPECT_EQ(list.list.waitMs, 0);
    EXPECT_EQ(list.list.format, ListFormat::Json);
    EXPECT_EQ(list.list.interfaceName, "eth1");
    EXPECT_EQ(ParseCommandLine({"--list", "--wait=600000", "--format", "csv"}).list.waitMs, 600000);

    const CommandLine modify = ParseCommandLine(
        {"--modify", "0011AABB-0000ff01", "--ip", "192.168.100.200", "--mask=", "--gateway",
         "10.0.0.1", "--mac", "00-1a-2b-3c-4d-5e", "--mode", "dhcp", "--verify-wait=2500"});
    EXPECT_EQ(modify.mode, CommandMode::Modify) << modify.error;
    EXPECT_EQ(modify.modify.verifyWaitMs, 2500);
    EXPECT_EQ(modify.modify.deviceId, "0011AABB-0000ff01");
    EXPECT_EQ(modify.modify.ip, "192.168.100.200");
    EXPECT_EQ(modify.modify.mask, "");
    EXPECT_EQ(modify.modify.gateway, "10.0.0.1");
    EXPECT_EQ(modify.modify.mac, "00-1a-2b-3c-4d-5e");
    EXPECT_EQ(modify.modify.mode, AddressingMode::Dhcp);
    EXPECT_FALSE(modify.modify.force);
    EXPECT_TRUE(
        ParseCommandLine({"--force", "--modify", "0011aabb-0000ff01", "--ip", "10.0.0.2", "--mask",
                          "255.0.0.0", "--gateway", "10.0.0.1", "--mac", "00:1a:2b:3c:4d:5e"})
            .modify.force);
    EXPECT_EQ(ParseCommandLine({"--modify", "0011aabb-0000ff01", "--ip", "10.0.0.2", "--mask",
                                "255.0.0.0", "--gateway", "10.0.0.1", "--mac", "00:1a:2b:3c:4d:5e"})
                  .modify.mode,
              AddressingMode::Static);
    EXPECT_EQ(ParseCommandLine({"--modify", "0011aabb-0000ff01", "--ip", "10.0.0.2", "--mask",
                                "255.0.0.0", "--gateway", "10.0.0.1", "--mac", "00:1a:2b:3c:4d:5e"})
                  .modify.verifyWaitMs,
              10000);
}

// The command line takes over when any argument is a verb; Qt's options and a
// desktop's session arguments open the window, any other option is refused.
TEST(CommandLineTest, AVerbAnywhereHandsOverToTheCommandLine) {
    struct Case {
        Args args;
        CommandMode mode;
        bool noFirewall;
    };
    const Case cases[] = {
        {{"-platform", "offscreen"}, CommandMode::Window, false},
        {{"-display", ":1", "--no-firewall"}, CommandMode::Window, true},
        {{"-style", "fusion"}, CommandMode::Window, false},
        {{"-session", "10d2b8f6a1000155", "-name", "x"}, CommandMode::Window, false},
        {{"--platform=offscreen", "-reverse"}, CommandMode::Window, false},
        // A verb anywhere is the verb; anything the window does not know is
        // refused rather than opening it.
        {{"--bogus", "--list"}, CommandMode::UsageError, false},
        {{"--no-firewall", "--list"}, CommandMode::List, true},
        {{"--wait", "500", "--list"}, CommandMode::List, false},
        {{"--lsit"}, CommandMode::UsageError, false},
        {{"-frobnicate"}, CommandMode::UsageError, false},
        {{"-platform"}, CommandMode::UsageError, false},
        {{"stray"}, CommandMode::UsageError, false},
        {{"--no-firewall", "--plan", "a.csv"}, CommandMode::Plan, true},
        {{"-h"}, CommandMode::Help, false},
        {{"-V"}, CommandMode::Version, false},
        {{"-V", "--list"}, CommandMode::Version, false},
        {{"--list", "--no-firewall"}, CommandMode::List, true},
        {{"--modify=0011aabb-0000ff01", "--ip", "10.0.0.2", "--mask", "255.0.0.0", "--gateway",
          "10.0.0.1", "--mac", "02:00:00:00:00:01"},
         CommandMode::Modify,
         false},
    };
    for (const Case& c : cases) {
        const CommandLine parsed = ParseCommandLine(c.args);
        EXPECT_EQ(parsed.mode, c.mode) << c.args.front() << " " << parsed.error;
        EXPECT_EQ(parsed.noFirewall, c.noFirewall) << c.args.front();
    }
    // --opt=value: the name before "=" decides.
    EXPECT_TRUE(IsCommandLineVerb("--modify=0011aabb-0000ff01"));
    EXPECT_FALSE(IsCommandLineVerb("--wait=500"));
}

TEST(CommandLineTest, DiagnoseTakesOnlyItsFormat) {
    const CommandLine plain = ParseCommandLine({"--diagnose"});
    EXPECT_EQ(plain.mode, CommandMode::Diagnose);
    EXPECT_EQ(plain.diagnose.format, ListFormat::Tsv);
    EXPECT_EQ(ParseCommandLine({"--format=json", "--diagnose"}).diagnose.format, ListFormat::Json);
    EXPECT_EQ(ParseCommandLine({"--diagnose", "-h"}).mode, CommandMode::Help);
    const std::vector<std::pair<Args, std::string>> wrong = {
        {{"--diagnose", "--format", "csv"}, "--format of --diagnose is tsv or json, not 'csv'"},
        {{"--diagnose", "--format"}, "--format needs a value"},
        {{"--diagnose", "--format=tsv", "--format=json"}, "--format is given twice"},
        {{"--diagnose", "--wait", "5"}, "unknown option '--wait'"},
        {{"--diagnose=1"}, "--diagnose takes no value"},
    };
    for (const auto& [args, message] : wrong) {
        const CommandLine parsed = ParseCommandLine(args);
        EXPECT_EQ(parsed.mode, CommandMode::UsageError) << args[0];
        EXPECT_EQ(parsed.error, message);
    }
}

TEST(CommandLineTest, SnapshotTakesAPlainAddressAndAFile) {
    EXPECT_TRUE(IsCommandLineVerb("--snapshot"));
    for (const Args& args :
         {Args{"--snapshot", "10.0.0.5", "cam.png"}, Args{"--snapshot=10.0.0.5", "cam.png"},
          Args{"--no-firewall", "--snapshot", "10.0.0.5", "cam.png"}}) {
        const CommandLine parsed = ParseCommandLine(args);
        EXPECT_EQ(parsed.mode, CommandMode::Snapshot) << args[0] << " " << parsed.error;
        EXPECT_EQ(parsed.snapshot.ip, "10.0.0.5");
        EXPECT_EQ(parsed.snapshot.file, "cam.png");
    }
    EXPECT_EQ(ParseCommandLine({"--snapshot", "10.0.0.5", "a.png", "--help"}).mode,
              CommandMode::Help);
    const std::vector<std::pair<Args, std::string>> wrong = {
        // Only a plain dotted quad is connected to (the text after "@"
        // would be another host).
        {{"--snapshot", "10.9.0.5:1@10.9.0.6", "a.png"},
         "--snapshot needs the camera's IP as a dotted quad (10.0.0.5), not '10.9.0.5:1@10.9.0.6'"},
        {{"--snapshot", "010.0.0.5", "a.png"},
         "--snapshot needs the camera's IP as a dotted quad (10.0.0.5), not '010.0.0.5'"},
        {{"--snapshot", "cam.example", "a.png"},
         "--snapshot needs the camera's IP as a dotted quad (10.0.0.5), not 'cam.example'"},
        {{"--snapshot", "10.0.0.5"}, "--snapshot needs the PNG file to write after the IP"},
        {{"--snapshot", "10.0.0.5", ""}, "--snapshot needs the PNG file to write after the IP"},
        {{"--snapshot"}, "--snapshot needs a value"},
        {{"--snapshot", "10.0.0.5", "a.png", "b.png"}, "unexpected argument 'b.png'"},
        {{"--snapshot", "10.0.0.5", "a.png", "--wait", "5"}, "unknown option '--wait'"},
        {{"--snapshot", "10.0.0.5", "a.png", "--snapshot", "10.0.0.6"},
         "--snapshot is given twice"},
    };
    for (const auto& [args, message] : wrong) {
        const CommandLine parsed = ParseCommandLine(args);
        EXPECT_EQ(parsed.mode, CommandMode::UsageError) << args[1];
        EXPECT_EQ(parsed.error, message);
    }
}

TEST(CommandLineTest, SnapshotOpensThePreviewsLocationAndTellsWhyNot) {
    const CommandLine parsed = ParseCommandLine({"--snapshot", "10.0.0.5", "cam.png"});
    std::vector<SnapshotRequest> asked;
    SnapshotResult answer;
    const SnapshotTaker taker = [&](const SnapshotRequest& request) {
        asked.push_back(request);
        return answer;
    };
    const auto run = [&](const SnapshotTaker& with, std::string& out, std::string& err) {
        std::ostringstream o;
        std::ostringstream e;
        const int code = RunCommandLine(parsed, o, e, {}, with);
        out = o.str();
        err = e.str();
        return code;
    };
    std::string out;
    std::string err;
    answer.status = SnapshotResult::Status::Written;
    answer.width = 1280;
    answer.height = 720;
    EXPECT_EQ(run(taker, out, err), 0);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].location, "rtsp://10.0.0.5/channel1/1");
    EXPECT_EQ(asked[0].file, "cam.png");
    EXPECT_EQ(asked[0].limit, std::chrono::milliseconds(10000));
    EXPECT_EQ(asked[0].networkCaching, std::chrono::milliseconds(300));
    EXPECT_EQ(out, "cam.png: 1280x720 picture of 10.0.0.5\n");
    EXPECT_EQ(err, "");

    answer = {};
    answer.status = SnapshotResult::Status::NoPicture;
    answer.reason = "No picture: 10.0.0.5 asks for a user name and password";
    EXPECT_EQ(run(taker, out, err), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "qd_ip_search: No picture: 10.0.0.5 asks for a user name and password\n");
    answer.status = SnapshotResult::Status::FileError;
    answer.reason = "cannot write cam.png: Permission denied";
    EXPECT_EQ(run(taker, out, err), 1);
    EXPECT_EQ(err, "qd_ip_search: cannot write cam.png: Permission denied\n");

    // A build without the media libraries says so.
    EXPECT_EQ(run({}, out, err), 1);
    EXPECT_EQ(err, "qd_ip_search: this build takes no snapshots (it has no video decoder)\n");
    EXPECT_EQ(asked.size(), 3u);
}

TEST(CommandLineTest, WrongCommandLinesAreRefusedWithTheirReason) {
    const Args modify = {"--modify", "0011aabb-0000ff01", "--ip",      "10.0.0.2",
                         "--mask",   "255.0.0.0",         "--gateway", "10.0.0.1",
                         "--mac",    "00:1a:2b:3c:4d:5e"};
    const auto with = [&](Args extra) {
        Args args = modify;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    const auto without = [&](const std::string& option) {
        Args args;
        for (std::size_t i = 0; i < modify.size(); i += 2) {
            if (modify[i] != option) {
                args.push_back(modify[i]);
                args.push_back(modify[i + 1]);
            }
        }
        return args;
    };
    const auto replaced = [&](const std::string& option, const std::string& value) {
        Args args = without(option);
        args.insert(args.end(), {option, value});
        return args;
    };
    const auto with3 = [](Args args, const char* a, const char* av, const char* b, const char* bv) {
        for (Args::iterator it = args.begin(); it != args.end(); it += 2) {
            if (*it == a) {
                it[1] = av;
            } else if (*it == b) {
                it[1] = bv;
            }
        }
        return args;
    };
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"--list", "--bogus"}, "unknown option '--bogus'"},
        {{"--lsit"}, "unknown option '--lsit'"},
        {{"--no-firewall", "-platform"}, "-platform needs a value"},
        {{"--list", "--wait", "--format", "csv"}, "not '--format'"},
        {{"--list", "--format="}, "--format is tsv, csv or json, not ''"},
        {{"--list", "-l"}, "unknown option '-l'"},
        {{"--list", "eth0"}, "unexpected argument 'eth0'"},
        {{"--list=yes"}, "--list takes no value"},
        {{"--list", "--wait"}, "--wait needs a value"},
        {{"--list", "--wait", "-5"}, "not '-5'"},
        {{"--list", "--wait", "600001"}, "not '600001'"},
        {{"--list", "--wait", "1e3"}, "not '1e3'"},
        {{"--list", "--wait", ""}, "not ''"},
        {{"--list", "--format", "xml"}, "--format is tsv, csv or json, not 'xml'"},
        {{"--list", "--interface="}, "--interface needs an interface name"},
        {{"--list", "--list"}, "--list is given twice"},
        {{"--modify", "0011aabb-0000ff01", "--wait", "5"}, "--wait belongs to --list"},
        {{"--list", "-platform", "offscreen"}, "unknown option '-platform'"},
        {{"-h=1"}, "-h takes no value"},
        {{"--list", "--ip", "10.0.0.2"}, "--ip belongs to --modify"},
        {with({"--list"}), "--list and --modify cannot be used together"},
        {with({"--ip", "10.0.0.3"}), "--ip is given twice"},
        {with({"--mode", "auto"}), "--mode is static, dhcp or adsl, not 'auto'"},
        {without("--mac"), "--modify needs --mac"},
        {with({"--verify-wait", "10s"}), "--verify-wait takes whole milliseconds"},
        {{"--list", "--verify-wait", "0"}, "--verify-wait belongs to --modify"},
        {{"--list", "--force"}, "--force belongs to --modify"},
        {with({"--force=yes"}), "--force takes no value"},
        {without("--gateway"), "--modify needs --gateway"},
        {with({"--mask", "255.255.255.255.0"}), "--mask is given twice"},
        // The 15-character room of the record's text fields.
        {{"--modify", "0011aabb-0000ff01", "--ip", "1234567890123456"},
         "--ip '1234567890123456' is longer than the 15 characters its field holds"},
        {{"--modify", "0011aabb-0000ff01", "--gateway",
          "\xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA"
          "1234567"},
         "longer than the 15 characters"},
        // Settings a camera cannot live on are refused before anything is sent.
        {replaced("--ip", "999.1.2.300"), "IP: 999.1.2.300 is not an IPv4 address"},
        {with3(replaced("--ip", "hello"), "--mask", "nonsense", "--gateway", ""),
         "IP: hello is not an IPv4 address"},
        {replaced("--gateway", "192.168.1.1"), "Gateway: 192.168.1.1 is outside the IP's subnet"},
        {replaced("--mac", "01:00:5e:00:00:01"), "MAC: 01:00:5e:00:00:01 is a multicast"},
        {replaced("--mac", "1:2:3:4:5:6"),
         "--mac needs six hex pairs such as 00:1a:2b:3c:4d:5e, not '1:2:3:4:5:6'"},
    };
    for (const auto& [args, message] : cases) {
        const CommandLine parsed = ParseCommandLine(args);
        EXPECT_EQ(parsed.mode, CommandMode::UsageError) << args.front() << " ... " << args.back();
        EXPECT_NE(parsed.error.find(message), std::string::npos)
            << "error '" << parsed.error << "', expected '" << message << "'";
    }
    const CommandLine fits = ParseCommandLine(without("--ip"));
    EXPECT_EQ(fits.error, "--modify needs --ip");
    // Fifteen characters fit the field and go on to the address checks.
    EXPECT_EQ(ParseCommandLine(replaced("--ip", "123456789012345")).error,
              "IP: 123456789012345 is not an IPv4 address (four numbers from 0 to 255 separated "
              "by dots, e.g. 192.168.1.64)");
    EXPECT_EQ(ParseCommandLine(modify).mode, CommandMode::Modify);
    // DHCP takes empty addresses; the MAC is still checked.
    const CommandLine dhcp =
        ParseCommandLine(with3(with3(with({"--mode", "dhcp"}), "--ip", "", "--mask", ""),
                               "--gateway", "", "--mac", "02:00:00:00:00:01"));
    EXPECT_EQ(dhcp.mode, CommandMode::Modify) << dhcp.error;
}

TEST(CommandLineTest, AssignAndPlanAreVerbsOfTheirOwn) {
    const CommandLine assign = ParseCommandLine(
        {"--assign", "--from", "10.77.1.20", "--mask=255.255.0.0", "--gateway", "10.77.0.1",
         "--ids", "FAC70001-0000fa01,fac70001-0000fa02,fac70001-0000FA01", "--dry-run",
         "--verify-wait", "0", "--format", "json", "--interface", "eth1"});
    ASSERT_EQ(assign.mode, CommandMode::Assign) << assign.error;
    EXPECT_EQ(assign.batch.select, BatchOptions::Select::Ids);
    EXPECT_EQ(assign.batch.ids, (Args{"fac70001-0000fa01", "fac70001-0000fa02"}));
    EXPECT_EQ(assign.batch.mask, "255.255.0.0");
    EXPECT_TRUE(assign.batch.dryRun);
    EXPECT_EQ(assign.batch.verifyWaitMs, 0);
    EXPECT_EQ(assign.batch.format, ListFormat::Json);
    EXPECT_EQ(assign.batch.interfaceName, "eth1");

    const CommandLine plan = ParseCommandLine({"--plan=site.csv"});
    ASSERT_EQ(plan.mode, CommandMode::Plan) << plan.error;
    EXPECT_EQ(plan.batch.planFile, "site.csv");
    EXPECT_EQ(plan.batch.verifyWaitMs, 10000);
    EXPECT_FALSE(plan.batch.dryRun);

    const Args base = {"--assign",      "--from",    "10.0.0.5", "--mask",
                       "255.255.255.0", "--gateway", "10.0.0.1"};
    const auto plus = [&](Args extra) {
        Args args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    EXPECT_EQ(ParseCommandLine(plus({"--all"})).batch.select, BatchOptions::Select::All);
    EXPECT_EQ(ParseCommandLine(plus({"--select-ip", "192.168.1.64"})).batch.selectIp,
              "192.168.1.64");
    const std::vector<std::pair<Args, std::string>> wrong = {
        {plus({}), "exactly one of --select-ip"},
        {plus({"--all", "--select-ip", "192.168.1.64"}), "exactly one of"},
        {{"--assign", "--all", "--mask", "255.0.0.0", "--gateway", "10.0.0.1"},
         "--assign needs --from"},
        {plus({"--all", "--from", "10.0.0.6"}), "--from is given twice"},
        {{"--assign", "--from", "10.0.0.256", "--all"}, "--from needs a dotted quad"},
        {plus({"--ids", "fac70001-0000fa01,nope"}), "--ids needs device IDs"},
        {plus({"--all", "--verify-wait", "-1"}), "--verify-wait takes whole milliseconds"},
        {plus({"--all", "--format", "xml"}), "--format is tsv, csv or json"},
        {plus({"--all", "--modify", "x"}), "unknown option '--modify' for --assign"},
        {{"--plan", "a.csv", "--from", "10.0.0.5"}, "--from belongs to --assign"},
        {{"--plan", "a.csv", "--assign"}, "--assign cannot be used with --plan"},
        {{"--from", "10.0.0.5", "--assign"}, "--assign needs --mask"},
        {{"--plan"}, "--plan needs a value"},
        {{"--plan", "a.csv", "b.csv"}, "unexpected argument 'b.csv'"},
    };
    for (const auto& [args, message] : wrong) {
        const CommandLine parsed = ParseCommandLine(args);
        EXPECT_EQ(parsed.mode, CommandMode::UsageError) << message;
        EXPECT_NE(parsed.error.find(message), std::string::npos) << parsed.error;
    }

    const std::vector<BatchRecord> records = {
        {"fac70001-0000fa01", "02:00:00:00:00:01", "192.168.1.64", "10.0.0.5", "confirmed",
         "255.255.255.0", "10.0.0.1", "static", "Confirmed: fac70001-0000fa01 at 10.0.0.5"},
        {"fac70001-0000fa02", "", "", "10.0.0.6", "not_found", "", "", "dhcp", "did not answer\n"}};
    EXPECT_EQ(FormatBatchRecords(ListFormat::Tsv, records),
              "dev_id\tmac\tip\tnew_ip\tnew_mask\tnew_gateway\tmode\tresult\treason\n"
              "fac70001-0000fa01\t02:00:00:00:00:01\t192.168.1.64\t10.0.0.5\t255.255.255.0\t"
              "10.0.0.1\tstatic\tconfirmed\tConfirmed: fac70001-0000fa01 at 10.0.0.5\n"
              "fac70001-0000fa02\t\t\t10.0.0.6\t\t\tdhcp\tnot_found\tdid not answer\\x0a\n");
    EXPECT_EQ(FormatBatchRecords(ListFormat::Json, {records[1]}),
              "[\n  {\"dev_id\": \"fac70001-0000fa02\", \"mac\": \"\", \"ip\": \"\", "
              "\"new_ip\": \"10.0.0.6\", \"new_mask\": \"\", \"new_gateway\": \"\", \"mode\": "
              "\"dhcp\", \"result\": \"not_found\", \"reason\": \"did not answer\\u000a\"}\n]\n");
}

#ifdef QDIPC_TEST_WITH_CAMSIM
// --assign and --plan over loopback against three simulated cameras (10.0.3.132
// to .134, MACs 02:00:00:00:03:84 to :86), which answer from 127.0.0.1.

// Tab-separated lines with only the columns given, in that order.
std::string KeepColumns(const std::string& tsv, std::initializer_list<std::size_t> keep) {
    std::string out;
    std::istringstream lines(tsv);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');) {
            cells.push_back(cell);
        }
        if (!line.empty() && line.back() == '\t') {
            cells.emplace_back();
        }
        bool first = true;
        for (const std::size_t c : keep) {
            out += first ? "" : "\t";
            out += c < cells.size() ? cells[c] : std::string("?");
            first = false;
        }
        out += "\n";
    }
    return out;
}

TEST(BatchRunTest, PlansAreCheckedAndOnlyEvidenceConfirms) {
    const std::string a = "7164736d-00000384";
    const std::string header = "dev_id,mac,ip,mask,gateway\n";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string plan;  // the --plan file's text
        int exitCode;
        std::string output;  // the records; a part of standard error for exit 2
        std::size_t recordsSent;
    };
    const std::vector<Case> cases = {
        {"dry run, first search",
         {"--assign", "--from", "10.0.3.133", "--mask", "255.0.0.0", "--gateway", "10.0.3.254",
          "--all", "--dry-run"},
         "",
         0,
         "7164736d-00000384\t02:00:00:00:03:84\t10.0.3.132\t10.0.3.135\tplanned\n"
         "7164736d-00000385\t02:00:00:00:03:85\t10.0.3.133\t10.0.3.136\tplanned\n"
         "7164736d-00000386\t02:00:00:00:03:86\t10.0.3.134\t10.0.3.137\tplanned\n",
         0},
        {"a plan that gives a listed camera's address",
         {"--plan", "p.csv"},
         header + a + ",,10.0.3.133,255.0.0.0,10.0.3.254\n",
         2,
         "p.csv: line 2, column ip: 10.0.3.133 is taken by a listed camera (7164736d-00000385)",
         0},
        {"one camera by ID and by MAC",
         {"--plan", "p.csv"},
         header + a +
             ",,10.0.3.140,255.0.0.0,10.0.3.254\n,02:00:00:00:03:84,10.0.3.141,"
             "255.0.0.0,10.0.3.254\n",
         2,
         "p.csv: line 3: the camera 7164736d-00000384 is planned on line 2 already",
         0},
        {"a device ID answering with another MAC",
         {"--plan", "p.csv"},
         header + a + ",02:00:00:00:03:85,10.0.3.140,255.0.0.0,10.0.3.254\n",
         2,
         "p.csv: line 2, column mac: the camera 7164736d-00000384 answers with MAC "
         "02:00:00:00:03:84, not 02:00:00:00:03:85",
         0},
        {"--modify of a device ID no camera has",
         {"--modify", "0011aabb-0000ff01", "--ip", "10.0.3.150", "--mask", "255.0.0.0", "--gateway",
          "10.0.3.254", "--mac", "02:00:00:00:03:84", "--verify-wait", "500"},
         "",
         3,
         "0011aabb-0000ff01 did not answer the search; nothing was sent",
         0},
        {"answers with the new values, but from another address",
         {"--plan", "p.csv", "--verify-wait", "1200"},
         header + a + ",,10.0.3.140,255.0.0.0,10.0.3.254\n",
         3,
         "7164736d-00000384\t02:00:00:00:03:84\t10.0.3.132\t10.0.3.140\tnot_confirmed\n",
         1},
    };
    const std::filesystem::path state =
        std::filesystem::temp_directory_path() / "qdipc-cli-batch-state";
    std::filesystem::remove_all(state);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint16_t receivePort = test::ReservedLoopbackPort();
        ASSERT_NE(receivePort, 0);
        camsim::ServerOptions options;
        options.listen = {"127.0.0.1", 0};
        options.replyTo = {"127.0.0.1", receivePort};
        options.maxRunTime = std::chrono::seconds(20);
        options.maxRequests = 100;
        camsim::CamSimThread cameras(3, 900, options);
        std::string error;
        ASSERT_TRUE(cameras.Start(error)) << error;
        NetworkConfig config;
        config.searchDestination = {"127.0.0.1", cameras.Port()};
        config.onvifDestination = {"127.0.0.1", 9};  // nobody listens; never the group
        config.onvifAnnouncements = {"127.0.0.1", 0};
        config.settingsDestination = {"127.0.0.1", cameras.Port()};
        config.receiver.bind = {"127.0.0.1", receivePort};
        config.interfaces = test::LoopbackNetworks();
        config.errorLogDirectory = std::filesystem::temp_directory_path();
        config.stateDirectory = state;
        BatchEnvironment environment;
        environment.readFile = [&](const std::string&, std::string& text) {
            text = c.plan;
            return true;
        };
        environment.neighbours = [] { return std::vector<NeighbourEntry>{}; };
        environment.gatewayOf = [](std::uint32_t) { return std::optional<std::string>(); };
        environment.searchWaitMs = 400;
        environment.probeIntervalMs = 200;
        const CommandLine parsed = ParseCommandLine(c.args);
        ASSERT_NE(parsed.mode, CommandMode::UsageError) << parsed.error;
        std::ostringstream out;
        std::ostringstream err;
        const bool modify = parsed.mode == CommandMode::Modify;
        EXPECT_EQ(modify
                      ? RunCommandLine(parsed, out, err, config)
                      : RunBatchCommand(parsed.mode, parsed.batch, config, out, err, environment),
                  c.exitCode)
            << err.str();
        if (modify) {
            EXPECT_EQ(out.str(), "");
            EXPECT_NE(err.str().find(c.output), std::string::npos) << err.str();
        } else if (c.exitCode == 2) {
            EXPECT_NE(err.str().find(c.output + "; nothing was sent"), std::string::npos)
                << err.str();
            EXPECT_EQ(out.str(), "");
        } else {
            EXPECT_EQ(KeepColumns(out.str(), {0, 1, 2, 3, 7}),
                      "dev_id\tmac\tip\tnew_ip\tresult\n" + c.output);
            // What each camera was to get, and why it ended as it did.
            std::string planned = "new_mask\tnew_gateway\tmode\n";
            for (std::size_t n = 0;
                 n < static_cast<std::size_t>(std::count(c.output.begin(), c.output.end(), '\n'));
                 ++n) {
                planned += "255.0.0.0\t10.0.3.254\tstatic\n";
            }
            EXPECT_EQ(KeepColumns(out.str(), {4, 5, 6}), planned);
            if (c.output.find("not_confirmed") != std::string::npos) {
                EXPECT_NE(KeepColumns(out.str(), {8}), "reason\n\n");
                // Said on standard error as it came.
                EXPECT_NE(err.str().find("7164736d-00000384 10.0.3.132 -> 10.0.3.140: "
                                         "not_confirmed ("),
                          std::string::npos)
                    << err.str();
            }
        }
        const camsim::ServerCounts served = cameras.Stop();
        EXPECT_EQ(served.modifyRecords, c.recordsSent)
            << "requests " << served.requests << " stop " << static_cast<int>(served.stopReason)
            << "\n"
            << err.str() << out.str();
        if (c.args.back() == "--dry-run") {
            EXPECT_NE(err.str().find("\n3 planned, nothing sent\n"), std::string::npos)
                << err.str();
        }
        if (c.recordsSent > 0) {
            // The way back: the camera's settings before, as a plan.
            const std::string said = "rollback plan: ";
            const auto at = err.str().find(said);
            ASSERT_NE(at, std::string::npos) << err.str();
            const std::string path =
                err.str().substr(at + said.size(), err.str().find('\n', at) - at - said.size());
            std::ifstream file(path, std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
            EXPECT_EQ(text, "dev_id,mac,ip,mask,gateway,mode,new_mac,restore\r\n" + a +
                                ",02:00:00:00:03:84,10.0.3.132,255.0.0.0,10.0.3.254,static,,"
                                "yes\r\n");
        }
    }
    std::filesystem::remove_all(state);
}
#endif
// A plan is read at most kMaxPlanFileBytes far: a larger file is refused by
// its size, an endless one once the limit is passed, and both before the
// network is touched (here no interface is ever offered, as a guard).
TEST(CommandLineTest, PlanFilesAreBounded) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::filesystem::path atLimit = dir / "qdipc_plan_at_limit.csv";
    const std::filesystem::path overLimit = dir / "qdipc_plan_over_limit.csv";
    std::ofstream(atLimit).close();
    std::ofstream(overLimit).close();
    std::filesystem::resize_file(atLimit, kMaxPlanFileBytes);
    std::filesystem::resize_file(overLimit, kMaxPlanFileBytes + 1);
    NetworkConfig config;
    config.interfaces = [] { return std::vector<Ipv4Interface>{}; };
    const auto run = [&](const std::string& path) {
        BatchOptions options;
        options.planFile = path;
        options.interfaceName = "none";
        std::ostringstream out, err;
        const int status = RunBatchCommand(CommandMode::Plan, options, config, out, err);
        return std::pair{status, err.str()};
    };
    const std::string tooLarge = "is larger than 16 MB";
    std::vector<std::string> refused = {overLimit.string()};
#ifndef _WIN32
    refused.push_back("/dev/zero");
#endif
    for (const std::string& path : refused) {
        const auto [status, message] = run(path);
        EXPECT_EQ(status, kExitUsage) << path;
        EXPECT_NE(message.find(tooLarge), std::string::npos) << path << ": " << message;
    }
    // One byte less is read, and refused by the plan's own checks.
    const auto [status, message] = run(atLimit.string());
    EXPECT_EQ(status, kExitUsage);
    EXPECT_EQ(message.find(tooLarge), std::string::npos) << message;
    std::filesystem::remove(atLimit);
    std::filesystem::remove(overLimit);
}

TEST(CommandLineTest, DeviceIdAndMacTexts) {
    for (const char* id : {"0011aabb-0000ff01", "0011AABB-0000FF01", "ffffffff-00000000"}) {
        EXPECT_TRUE(IsDeviceIdText(id)) << id;
        EXPECT_EQ(ParseCommandLine({"--modify", id}).error, "--modify needs --ip") << id;
    }
    for (const char* id : {"", "0011aabb-0000ff0", "0011aabb-0000ff011", "0011aabb:0000ff01",
                           "0011aabg-0000ff01", "0011aabb0000ff01-", " 011aabb-0000ff01"}) {
        EXPECT_FALSE(IsDeviceIdText(id)) << id;
        EXPECT_EQ(ParseCommandLine({"--modify", id}).mode, CommandMode::UsageError) << id;
    }
    for (const char* mac : {"00:1a:2b:3c:4d:5e", "00-1A-2B-3C-4D-5E"}) {
        EXPECT_TRUE(IsMacText(mac)) << mac;
    }
    // The one MAC rule: what --mac accepts, the settings check accepts too.
    for (const char* mac :
         {"0:1a:2b:3c:4d:5e", "1:2:3:4:5:6", "", "00:1a:2b:3c:4d", "00:1a:2b:3c:4d:5e:6f",
          "001a2b3c4d5e", "00:1a-2b:3c:4d:5e", "000:1a:2b:3c:4d:5e", "00::1a:2b:3c:4d",
          "00:1a:2b:3c:4d:5e:", "00:1a:2b:3c:4d:5g", "00 1a 2b 3c 4d 5e"}) {
        EXPECT_FALSE(IsMacText(mac)) << mac;
    }
}

TEST(ListOutputTest, TsvCsvAndJson) {
    const std::vector<ListRecord> records = {
        Record({"0", "0011aabb-0000ff01", "gate, \"north\"", "10.0.0.2", "5050",
                "00:1a:2b:3c:4d:5e", "a\tb", "01:02:03:04:05:06:07:08", "line1\r\nline2",
                "255.0.0.0", "80", "back\\slash"}),
        // A name that would retitle and recolour a terminal, with C1 CSI and DEL.
        Record({"1", "\xE6\x91\x84", "cam\x1b]0;PWNED\x07\x1b[41m\xC2\x9B\x7F", "", "", "", "", "",
                "", "", "", "\x01"}),
    };
    const std::vector<ListEntry> entries = {
        {records[0], "eth1", IpConflict | OtherSubnet, "native+onvif"}, {records[1], "", 0, "=x"}};
    const std::string header =
        "NO.\tDev ID\tName\tIP\tPort\tMAC\tApp Ver\tHardware Ver\tKernel Ver\tMask\tWeb "
        "Port\tGateway";
    const std::string hostileName = "cam\\x1b]0;PWNED\\x07\\x1b[41m\\x9b\\x7f";
    // TSV: the twelve cells, the flags' names and how each device was found.
    EXPECT_EQ(FormatDeviceList(ListFormat::Tsv, entries),
              header +
                  "\tFlags\tSeen Via\n"
                  "0\t0011aabb-0000ff01\tgate, \"north\"\t10.0.0.2\t5050\t00:1a:2b:3c:4d:5e\t"
                  "a\\x09b\t01:02:03:04:05:06:07:08\tline1\\x0d\\x0aline2\t255.0.0.0\t80\t"
                  "back\\\\slash\tip_conflict,other_subnet\tnative+onvif\n"
                  "1\t\xE6\x91\x84\t" +
                  hostileName + "\t\t\t\t\t\t\t\t\t\\x01\t\t=x\n");

    EXPECT_EQ(
        FormatDeviceList(ListFormat::Csv, entries),
        "NO.,Dev ID,Name,IP,Port,MAC,App Ver,Hardware Ver,Kernel Ver,Mask,Web Port,Gateway,"
        "Seen Via\r\n"
        "0,0011aabb-0000ff01,\"gate, \"\"north\"\"\",10.0.0.2,5050,00:1a:2b:3c:4d:5e,a\\x09b,"
        "01:02:03:04:05:06:07:08,line1\\x0d\\x0aline2,255.0.0.0,80,back\\\\slash,native+onvif\r\n"
        "1,\xE6\x91\x84," +
            hostileName + ",,,,,,,,,\\x01,'=x\r\n");

    // JSON: snake_case keys, the counts and ports as numbers, then the
    // arrival interface and the flags' names.
    EXPECT_EQ(FormatDeviceList(ListFormat::Json, entries),
              "[\n"
              "  {\"no\": 0, \"dev_id\": \"0011aabb-0000ff01\", \"name\": \"gate, "
              "\\\"north\\\"\", \"ip\": \"10.0.0.2\", \"port\": 5050, \"mac\": "
              "\"00:1a:2b:3c:4d:5e\", \"app_ver\": \"a\\u0009b\", \"hardware_ver\": "
              "\"01:02:03:04:05:06:07:08\", \"kernel_ver\": \"line1\\u000d\\u000aline2\", "
              "\"mask\": \"255.0.0.0\", \"web_port\": 80, \"gateway\": \"back\\\\slash\", "
              "\"interface\": \"eth1\", \"flags\": [\"ip_conflict\", \"other_subnet\"], "
              "\"seen_via\": \"native+onvif\"},\n"
              "  {\"no\": 1, \"dev_id\": \"\xE6\x91\x84\", \"name\": "
              "\"cam\\u001b]0;PWNED\\u0007\\u001b[41m\\u009b\\u007f\", \"ip\": \"\", "
              "\"port\": null, \"mac\": \"\", \"app_ver\": \"\", \"hardware_ver\": \"\", "
              "\"kernel_ver\": \"\", \"mask\": \"\", \"web_port\": null, \"gateway\": "
              "\"\\u0001\", \"interface\": \"\", \"flags\": [], \"seen_via\": \"=x\"}\n"
              "]\n");

    EXPECT_EQ(FormatDeviceList(ListFormat::Json, std::vector<ListEntry>{}), "[]\n");
    EXPECT_EQ(FormatDeviceList(ListFormat::Tsv, std::vector<ListEntry>{}),
              header + "\tFlags\tSeen Via\n");

    EXPECT_EQ(ClipboardRows({records[0]}),
              header +
                  "\n"
                  "0\t0011aabb-0000ff01\tgate, \"north\"\t10.0.0.2\t5050\t00:1a:2b:3c:4d:5e\t"
                  "a\\x09b\t01:02:03:04:05:06:07:08\tline1\\x0d\\x0aline2\t255.0.0.0\t80\t"
                  "back\\\\slash\n");
}

// One escape for every output: a backslash is \\, so \x1b always means the
// byte; the bidirectional controls are \uNNNN, their neighbours stay text.
TEST(ListOutputTest, OneUnambiguousEscape) {
    const std::pair<const char*, const char*> cases[] = {
        {"\x1b", "\\x1b"},
        {"\\x1b", "\\\\x1b"},
        {"a\\b", "a\\\\b"},
        {"\xE2\x80\xAA", "\\u202a"},                                    // U+202A LRE
        {"evil\xE2\x80\xAEgpj.exe", "evil\\u202egpj.exe"},              // U+202E RLO
        {"\xE2\x81\xA6x\xE2\x81\xA9", "\\u2066x\\u2069"},               // isolates
        {"\xE2\x80\x8E\xE2\x80\x8F\xD8\x9C", "\\u200e\\u200f\\u061c"},  // LRM RLM ALM
        {"\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",            // U+2029 202F 2065 206A
         "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
    };
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ(EscapeControls(text), escaped) << text;
    }
    // JSON: the exact text, a backslash as JSON writes it.
    EXPECT_EQ(FormatRecords(ListFormat::Json, {"k"}, {{"\\x1b\x1b\xE2\x80\xAE"}}),
              "[\n  {\"k\": \"\\\\x1b\\u001b\\u202e\"}\n]\n");
    // An argument echoed in a message: the same escape (the settings' own
    // reason repeats the value).
    const CommandLine echoed =
        ParseCommandLine({"--modify", "0011aabb-0000ff01", "--ip", "\x1b]2;x\a", "--mask",
                          "255.0.0.0", "--gateway", "\xC2\x9B", "--mac", "00:1a:2b:3c:4d:5e"});
    EXPECT_EQ(echoed.mode, CommandMode::UsageError);
    EXPECT_NE(echoed.error.find("\\x1b]2;x\\x07"), std::string::npos) << echoed.error;
    EXPECT_EQ(echoed.error.find('\x1b'), std::string::npos);
    const CommandLine wait = ParseCommandLine({"--list", "--wait",
                                               "\xE2\x80\xAE"
                                               "5"});
    EXPECT_NE(wait.error.find("'\\u202e5'"), std::string::npos) << wait.error;
}

// CSV and the clipboard are for spreadsheets: a cell that would run as a
// formula gets a leading apostrophe; TSV and JSON keep the text.
TEST(ListOutputTest, SpreadsheetFormulasAreNeutralised) {
    const std::pair<const char*, const char*> cases[] = {
        {"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
        {"=1+1", "'=1+1"},
        {"+1", "'+1"},
        {"-1", "'-1"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\t=1", "'\\x09=1"},
        {"\r=1", "'\\x0d=1"},
        {"a=1", "a=1"},
        {" =1", " =1"},
        {"", ""},
    };
    for (const auto& [cell, csv] : cases) {
        const std::string out = FormatRecords(ListFormat::Csv, {"c"}, {{cell}});
        EXPECT_EQ(out, std::string("c\r\n") + csv + "\r\n") << cell;
        EXPECT_EQ(FormatRecords(ListFormat::Tsv, {"c"}, {{cell}}),
                  "c\n" + EscapeControls(cell) + "\n")
            << cell;
        ListRecord record;
        record[kColName] = cell;
        const std::string rows = ClipboardRows({record});
        const std::string expected = ClipboardCell(cell);
        EXPECT_EQ(rows.substr(rows.find('\n') + 1), "\t\t" + expected + std::string(9, '\t') + "\n")
            << cell;
        EXPECT_EQ(expected.front() == '\'', StartsLikeFormula(cell)) << cell;
    }
}

// --watch: its own verb, seconds with decimals, tsv or jsonl, and what it
// refuses before anything is sent.
TEST(CommandLineTest, WatchTakesIntervalFormatAndInterface) {
    const CommandLine plain = ParseCommandLine({"--watch"});
    EXPECT_EQ(plain.mode, CommandMode::Watch);
    EXPECT_EQ(plain.watch.intervalMs, 5000);
    EXPECT_EQ(plain.watch.format, ListFormat::Tsv);
    const CommandLine full = ParseCommandLine(
        {"--watch", "--interval", "2.5", "--format=jsonl", "--interface", "eth1", "--no-firewall"});
    EXPECT_EQ(full.mode, CommandMode::Watch) << full.error;
    EXPECT_EQ(full.watch.intervalMs, 2500);
    EXPECT_EQ(full.watch.format, ListFormat::Json);
    EXPECT_EQ(full.watch.interfaceName, "eth1");
    EXPECT_EQ(ParseCommandLine({"--watch", "--interval=0.2"}).watch.intervalMs, 200);
    EXPECT_EQ(ParseCommandLine({"--watch", "--interval=3600"}).watch.intervalMs, 3600000);
    for (const Args& wrong : std::vector<Args>{{"--watch", "--interval", "0.199"},
                                               {"--watch", "--interval", "3600.001"},
                                               {"--watch", "--interval", "1."},
                                               {"--watch", "--interval", "-1"},
                                               {"--watch", "--interval"},
                                               {"--watch", "--format", "csv"},
                                               {"--watch", "--wait", "100"},
                                               {"--watch", "--interface="},
                                               {"--watch", "--watch"},
                                               {"--watch", "extra"}}) {
        EXPECT_EQ(ParseCommandLine(wrong).mode, CommandMode::UsageError) << wrong.back();
    }
    // One JSON document cannot grow event by event: the error names jsonl.
    const CommandLine json = ParseCommandLine({"--watch", "--format", "json"});
    EXPECT_EQ(json.mode, CommandMode::UsageError);
    EXPECT_NE(json.error.find("jsonl"), std::string::npos) << json.error;
}

// A watch event: JSON Lines with "event" first and the --list keys, then the
// times; TSV the event, the cells and the times under a header of their own.
TEST(ListOutputTest, WatchEventsAndSavedLists) {
    ListEntry entry{Record({"3", "0011aabb-0000ff01", "door \"n\"", "10.0.0.2", "5050",
                            "00:1a:2b:3c:4d:5e", "v1", "hw", "k", "255.0.0.0", "80", "10.0.0.1"}),
                    "eth1", HostAddress};
    entry.firstSeen = TimeText(std::chrono::system_clock::time_point(std::chrono::seconds(0)));
    entry.lastSeen =
        TimeText(std::chrono::system_clock::time_point(std::chrono::seconds(1733714404)));
    EXPECT_EQ(entry.firstSeen, "1970-01-01T00:00:00Z");
    EXPECT_EQ(entry.lastSeen, "2024-12-09T03:20:04Z");
    const std::string object =
        "\"no\": 3, \"dev_id\": \"0011aabb-0000ff01\", \"name\": \"door \\\"n\\\"\", "
        "\"ip\": \"10.0.0.2\", \"port\": 5050, \"mac\": \"00:1a:2b:3c:4d:5e\", "
        "\"app_ver\": \"v1\", \"hardware_ver\": \"hw\", \"kernel_ver\": \"k\", "
        "\"mask\": \"255.0.0.0\", \"web_port\": 80, \"gateway\": \"10.0.0.1\", "
        "\"interface\": \"eth1\", \"flags\": [\"host_address\"], "
        "\"first_seen\": \"1970-01-01T00:00:00Z\", \"last_seen\": \"2024-12-09T03:20:04Z\"}";
    // Event times to the millisecond, in UTC; before 1970 as well.
    using std::chrono::milliseconds;
    const std::string time =
        MillisecondTimeText(std::chrono::system_clock::time_point(milliseconds(1733714404007)));
    EXPECT_EQ(time, "2024-12-09T03:20:04.007Z");
    EXPECT_EQ(MillisecondTimeText(std::chrono::system_clock::time_point(milliseconds(999))),
              "1970-01-01T00:00:00.999Z");
    EXPECT_EQ(MillisecondTimeText(std::chrono::system_clock::time_point(milliseconds(-1))),
              "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(FormatWatchEvent(ListFormat::Json, "gone", time, entry),
              "{\"event\": \"gone\", \"time\": \"2024-12-09T03:20:04.007Z\", " + object + "\n");
    EXPECT_EQ(WatchEventHeader(ListFormat::Json), "");
    EXPECT_EQ(WatchEventHeader(ListFormat::Tsv),
              "Event\tTime\tNO.\tDev ID\tName\tIP\tPort\tMAC\tApp Ver\tHardware "
              "Ver\tKernel Ver\tMask\tWeb Port\tGateway\tFirst Seen\tLast Seen\n");
    EXPECT_EQ(FormatWatchEvent(ListFormat::Tsv, "added", time, entry),
              "added\t2024-12-09T03:20:04.007Z\t3\t0011aabb-0000ff01\tdoor "
              "\"n\"\t10.0.0.2\t5050\t00:1a:2b:3c:4d:5e\tv1\thw\t"
              "k\t255.0.0.0\t80\t10.0.0.1\t1970-01-01T00:00:00Z\t2024-12-09T03:20:04Z\n");

    SavedListAbout about;
    about.version = "1.0.0.1";
    about.savedAt = "2026-12-09T03:12:04Z";
    about.interfaces.push_back({"eth\x1b", 2, "10.0.0.5", "255.0.0.0", "10.255.255.255"});
    const std::string aboutKeys =
        "\"tool\": \"qd_ip_search\", \"version\": \"1.0.0.1\", \"saved_at\": "
        "\"2026-12-09T03:12:04Z\", \"interfaces\": [{\"name\": \"eth\\u001b\", \"address\": "
        "\"10.0.0.5\", \"netmask\": \"255.0.0.0\"}]";
    EXPECT_EQ(FormatSavedList(ListFormat::Json, {entry}, about),
              "{" + aboutKeys + ", \"cameras\": [\n  {" + object + "\n]}\n");
    EXPECT_EQ(FormatSavedListAbout(about), "{" + aboutKeys + "}\n");
    // CSV: what --list writes, header row first; the times stay out of it.
    EXPECT_EQ(FormatSavedList(ListFormat::Csv, {entry}, about),
              FormatDeviceList(ListFormat::Csv, {entry}));
    EXPECT_EQ(SavedListAboutPath("site.csv"), "site.csv.about.json");
    // Save List As adds the chosen format's extension to a name without one.
    const std::vector<std::tuple<std::string, ListFormat, std::string>> paths = {
        {"/home/i/site-list", ListFormat::Csv, "/home/i/site-list.csv"},
        {"site-list", ListFormat::Json, "site-list.json"},
        {"/tmp/v1.2/site", ListFormat::Csv, "/tmp/v1.2/site.csv"},  // a dot in a folder
        {"C:\\v1.2\\site", ListFormat::Json, "C:\\v1.2\\site.json"},
        {"/home/i/.site", ListFormat::Csv, "/home/i/.site.csv"},
        {"site.", ListFormat::Csv, "site.csv"},
        {"site.CSV", ListFormat::Json, "site.CSV"},  // the operator's own extension stays
        {"site.txt", ListFormat::Csv, "site.txt"},
    };
    for (const auto& [path, format, saved] : paths) {
        EXPECT_EQ(SavedListPath(path, format), saved) << path;
    }
}

TEST(ListOutputTest, CellBytesBecomeUtf8OrEscapes) {
    // A legacy decoder that knows one sequence only.
    const LegacyDecoder legacy = [](std::string_view bytes) -> std::optional<std::string> {
        if (bytes == "\xD2\xEC\xB3\xA3") {
            return std::string("\xE5\xBC\x82\xE5\xB8\xB8");
        }
        return std::nullopt;
    };
    EXPECT_EQ(PrintableCellText("cam-01", legacy), "cam-01");
    EXPECT_EQ(PrintableCellText("\xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA", legacy),
              "\xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA");
    EXPECT_EQ(PrintableCellText("\xD2\xEC\xB3\xA3", legacy), "\xE5\xBC\x82\xE5\xB8\xB8");
    // Neither: the bytes as they are, nothing dropped; the escape writes them
    // as \xNN and a backslash as \\.
    EXPECT_EQ(PrintableCellText("a\\b\xFF\x80z", legacy), "a\\b\xFF\x80z");
    EXPECT_EQ(EscapeControls(PrintableCellText("a\\b\xFF\x80z", legacy)), "a\\\\b\\xff\\x80z");
    EXPECT_EQ(EscapeControls(PrintableCellText("\xC3", {})), "\\xc3");
    // Printed once: an undecodable byte is \xNN in TSV too, not \\xNN.
    const std::string once = FormatDeviceList(
        ListFormat::Tsv, {ListEntry{Record({PrintableCellText("\x9B", {}).c_str()}), "", 0}});
    EXPECT_EQ(once.substr(FormatDeviceList(ListFormat::Tsv, std::vector<ListEntry>{}).size()),
              "\\x9b\t\t\t\t\t\t\t\t\t\t\t\t\t\n");  // and empty Flags and Seen Via
    // Bytes outside UTF-8 in a message or a name never go out raw.
    EXPECT_EQ(EscapeControls("eth\x9B"
                             "0\x1b[2J"),
              "eth\\x9b0\\x1b[2J");

    // With the system's converter: GBK's two-byte 摄像机 decoded, a four-byte
    // GB18030 sequence (U+0080) too where the system knows GB18030 (Wine
    // knows GBK only); an incomplete or invalid sequence is escaped rather
    // than dropped.
    EXPECT_EQ(PrintableCell("\xC9\xE3\xCF\xF1\xBB\xFA"), "\xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA");
#ifndef _WIN32
    EXPECT_EQ(PrintableCell("x\x81\x30\x81\x30"), "x\xC2\x80");
#endif
    EXPECT_EQ(EscapeControls(PrintableCell("ab\xFF\\")), "ab\\xff\\\\");
    EXPECT_EQ(EscapeControls(PrintableCell("cam\xC9")), "cam\\xc9");

    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x93\xB7 \xC2\xA9 \xEF\xBF\xBF \xF4\x8F\xBF\xBF"));
    for (const char* bad : {"\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xF5\x80\x80\x80", "\xE6\x91", "\x80", "\xC3(", "\xFE"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    }
}

}  // namespace
}  // namespace qdipc
