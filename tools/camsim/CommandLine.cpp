#include "tools/camsim/CommandLine.h"

#include <charconv>
#include <cmath>

namespace camsim {
namespace {

template <typename Number>
std::optional<Number> ParseNumber(const std::string& text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::vector<ReplyKind>> ParseKinds(const std::string& list) {
    std::vector<ReplyKind> kinds;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::optional<ReplyKind> kind = ParseReplyKind(list.substr(start, comma - start));
        if (!kind) {
            return std::nullopt;
        }
        kinds.push_back(*kind);
        start = comma + 1;
    }
    return kinds;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
    ParseResult result;
    CommandLine& line = result.commandLine;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        auto fail = [&](const std::string& why) {
            result.error = option + ": " + why;
            return result;
        };
        if (option == "--help" || option == "-h") {
            line.help = true;
            continue;
        }
        if (option == "--list") {
            line.list = true;
            continue;
        }
        if (option == "--reply-to-sender") {
            line.server.replyToSender = true;
            continue;
        }
        if (option == "--ignore-modify") {
            line.server.ignoreModify = true;
            continue;
        }
        if (option == "--spoof") {
            line.server.spoof = true;
            continue;
        }
        if (option == "--zero-mac") {
            line.zeroMac = true;
            continue;
        }
        if (option == "--silent-after-modify") {
            line.server.silentAfterModify = true;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            return option.rfind("--", 0) == 0 ? fail("needs a value") : fail("unknown option");
        }
        const std::string& value = arguments[++i];
        if (option == "--listen" || option == "--reply-to") {
            const std::optional<Endpoint> endpoint = ParseEndpoint(value);
            if (!endpoint) {
                return fail("expected ADDRESS:PORT with a dotted-quad address, got " + value);
            }
            if (option == "--listen") {
                line.server.listen = *endpoint;
            } else {
                line.server.replyTo = *endpoint;
                line.replyToGiven = true;
            }
        } else if (option == "--own-address") {
            if (value.empty() || value.size() >= 16 || value.find('/') != std::string::npos) {
                return fail("expected an interface name, got " + value);
            }
            line.server.ownAddressDevice = value;
        } else if (option == "--reply-port") {
            const std::optional<std::uint16_t> port = ParsePort(value);
            if (!port) {
                return fail("expected a port from 0 to 65535, got " + value);
            }
            line.server.replyPort = *port;
        } else if (option == "--cameras") {
            const auto count = ParseNumber<std::size_t>(value);
            if (!count || *count == 0 || *count > (1u << 24)) {
                return fail("expected a camera count from 1 to 16777216, got " + value);
            }
            line.cameraCount = *count;
        } else if (option == "--factory") {
            line.factory = ParseFactoryNetwork(value);
            if (!line.factory) {
                return fail("expected ADDRESS/PREFIX such as 192.168.1.64/24, got " + value);
            }
        } else if (option == "--ip-text") {
            const std::size_t equals = value.find('=');
            const auto index = ParseNumber<std::size_t>(value.substr(0, equals));
            if (equals == std::string::npos || !index || value.size() - equals - 1 > 29) {
                return fail("expected N=TEXT (TEXT at most 29 bytes), got " + value);
            }
            line.ipTexts.emplace_back(*index, value.substr(equals + 1));
        } else if (option == "--base") {
            const auto base = ParseNumber<std::uint32_t>(value);
            if (!base) {
                return fail("expected an unsigned number, got " + value);
            }
            line.base = *base;
        } else if (option == "--mode") {
            const auto kinds = ParseKinds(value);
            if (!kinds) {
                return fail("unknown reply kind in " + value);
            }
            line.server.kinds = *kinds;
        } else if (option == "--short-length") {
            const auto length = ParseNumber<std::size_t>(value);
            if (!length || *length > 380) {
                return fail("expected a length from 0 to 380, got " + value);
            }
            line.server.shape.shortLength = *length;
        } else if (option == "--over-long-length") {
            const auto length = ParseNumber<std::size_t>(value);
            if (!length || *length < 381 || *length > 65507) {
                return fail("expected a length from 381 to 65507, got " + value);
            }
            line.server.shape.overLongLength = *length;
        } else if (option == "--max-requests") {
            const auto count = ParseNumber<std::size_t>(value);
            if (!count) {
                return fail("expected an unsigned number, got " + value);
            }
            line.server.maxRequests = *count;
        } else if (option == "--max-time") {
            const auto seconds = ParseNumber<double>(value);
            if (!seconds || !std::isfinite(*seconds) || *seconds < 0 || *seconds > 1e7) {
                return fail("expected seconds (may be fractional), got " + value);
            }
            line.server.maxRunTime =
                std::chrono::milliseconds(static_cast<long long>(std::ceil(*seconds * 1000)));
        } else if (option == "--restart-ms") {
            const auto ms = ParseNumber<std::uint32_t>(value);
            if (!ms || *ms > 600000) {
                return fail("expected milliseconds from 0 to 600000, got " + value);
            }
            line.server.restartTime = std::chrono::milliseconds(*ms);
        } else if (option == "--replay-after") {
            const auto ms = ParseNumber<std::uint32_t>(value);
            if (!ms || *ms == 0 || *ms > 600000) {
                return fail("expected milliseconds from 1 to 600000, got " + value);
            }
            line.server.replayAfter = std::chrono::milliseconds(*ms);
        } else if (option == "--miss-every") {
            const auto every = ParseNumber<std::size_t>(value);
            if (!every || *every == 0 || *every > 1000) {
                return fail("expected a number from 1 to 1000, got " + value);
            }
            line.server.missEvery = *every;
        } else if (option == "--burst") {
            const auto count = ParseNumber<std::size_t>(value);
            if (!count || *count > (1u << 24)) {
                return fail("expected a reply count up to 16777216, got " + value);
            }
            line.burstCount = *count;
        } else if (option == "--search-id") {
            const auto id = ParseNumber<std::uint32_t>(value);
            if (!id) {
                return fail("expected an unsigned 32-bit number, got " + value);
            }
            line.burstSearchId = *id;
        } else if (option == "--duration-ms") {
            const auto ms = ParseNumber<std::uint32_t>(value);
            if (!ms) {
                return fail("expected milliseconds, got " + value);
            }
            line.burstDuration = std::chrono::milliseconds(*ms);
        } else {
            --i;
            return fail("unknown option");
        }
    }
    if (line.burstCount && !line.replyToGiven && !line.help) {
        result.error = "--burst: needs an explicit --reply-to destination";
    }
    return result;
}

std::string UsageText() {
    return R"(Usage: camsim [options]

Simulates IP cameras for the search tool. Each simulated camera answers every
discovery request (52 bytes, D3 ED CB B3) that arrives on the listen endpoint
with one 380-byte device info reply carrying the request's search ID. Modify
records (88 bytes, D3 ED CB FF) addressed to one of its device IDs change that
camera's IP address, netmask, gateway and MAC address in its later replies.
Every datagram received is printed as one line on standard output.
SIGINT or SIGTERM ends it.

Without options it listens on 0.0.0.0:5050 and broadcasts its replies to
255.255.255.255:8089, like real cameras: use loopback endpoints for testing.

Serving:
  --listen ADDR:PORT        where requests and modify records are received
                            (default 0.0.0.0:5050)
  --reply-to ADDR:PORT      where replies are sent (default 255.255.255.255:8089)
  --reply-to-sender         send replies to the request's source address instead,
                            at the port of --reply-port
  --reply-port PORT         reply port with --reply-to-sender (default 8089)
  --cameras N               number of simulated cameras (default 4)
  --base N                  number of the first camera; all fields derive from
                            the camera's number (default 1)
  --factory ADDR/PREFIX     every camera starts at this one address, with the
                            prefix's mask and the subnet's first host as gateway
                            (as a batch fresh from the factory: 192.168.1.64/24)
  --ip-text N=TEXT          camera N (from 0) reports TEXT as its IP, any text of
                            up to 29 bytes, as a hostile host might
  --mode KIND[,KIND...]     what each camera sends, used camera by camera in turn
                            (default normal):
                              normal           a well-formed reply
                              alt-signature    "Kelmora" and a zero byte at 0..7
                              wrong-search-id  the request's search ID plus one
                              no-signature     bytes 0..7 zero
                              short            only the first --short-length bytes
                              over-long        the reply padded to --over-long-length
                              empty            a datagram of no bytes
                              duplicate-id     the reply, then a second one with the
                                               same device ID and other fields
  --short-length N          length of a short reply, 0 to 380 (default 300)
  --over-long-length N      length of an over-long reply, 381 to 65507 (default 400)
  --restart-ms MS           a camera that applies a modify record answers no
                            request for MS milliseconds, as while its network
                            restarts, then answers with its new settings
                            (default 0: at once)
  --ignore-modify           print modify records but never apply them
  --silent-after-modify     a camera that applies a modify record never
                            answers again
  --own-address IFNAME      each camera answers from its own address (its
                            replies leave from a socket bound to it, on the
                            link IFNAME, whether or not the host holds it; a
                            camera that takes a new address answers from that);
                            Linux, needs root (CAP_NET_ADMIN) in its namespace
  --spoof                   a misbehaving host: answer for no camera of its own,
                            remember every modify record seen and answer every
                            later request, from this host's own address, with
                            the record's device ID and new settings
  --zero-mac                every camera reports MAC 00:00:00:00:00:00
  --replay-after MS         a host that replays: MS milliseconds after a camera
                            receives a modify record, the reply it sent last
                            before it (old settings, that request's search ID)
                            goes out again from its old address
  --miss-every N            camera i answers request r (counted from 0) only
                            when (r + i) % N is 0: with 2 every camera misses
                            every second request, half of them each time
                            (default 1: every request)
  --max-requests N          end after answering N requests (default: no limit)
  --max-time SECONDS        end after this time, fractions allowed (default: no limit)
  --list                    print the simulated cameras' fields and end

Burst (for benchmarks):
  --burst N                 send N distinct replies (cameras base .. base+N-1) to
                            the --reply-to destination, which must be given, and end
  --search-id ID            search ID of the burst replies (default 0)
  --duration-ms MS          spread the burst evenly over MS milliseconds
                            (default: as fast as possible)
  --mode also applies to burst replies.

  --help, -h                print this text and end

Camera number n has device ID 7164736d-<n as 8 hex digits>, name "camsim-<n>",
IP 10.<n's low three bytes>, MAC 02:00:<n as 4 bytes>, mask 255.0.0.0,
gateway 10.x.y.254, web port 8000 + n % 1000, port 34000 + n % 30000.

Example (loopback only):
  camsim --listen 127.0.0.1:15050 --reply-to 127.0.0.1:18089 --cameras 3 --max-time 60
)";
}

}  // namespace camsim
