// The service's command line read into a ServiceConfig: ports, update-set folder, each fault
// option with its call and repeat count, and the usage text.
#include "Config.h"

#include <charconv>
#include <set>
#include <stdexcept>

namespace mapservice {
namespace {

const std::set<std::string> kXmlCalls = {"MDL", "DLS", "TSC"};
const std::set<std::string> kAllCalls = {"MDL", "DLS", "TSC", "MapData", "LineTest", "File"};

std::size_t ParseCount(const std::string& option, const std::string& text) {
    std::size_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        throw std::invalid_argument(option + ": not a number: " + text);
    return value;
}

int ParsePort(const std::string& option, const std::string& text) {
    std::size_t port = ParseCount(option, text);
    if (port > 65535) throw std::invalid_argument(option + ": port out of range: " + text);
    return static_cast<int>(port);
}

// Splits "VALUE[:TIMES]" into the value and the optional repeat count.
std::pair<std::string, std::optional<int>> SplitTimes(const std::string& option, const std::string& text) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos) return {text, std::nullopt};
    return {text.substr(0, colon), static_cast<int>(ParseCount(option, text.substr(colon + 1)))};
}

// Splits "CALL=VALUE" and checks that CALL is one of `calls`.
std::pair<std::string, std::string> SplitCall(const std::string& option, const std::string& text,
                                              const std::set<std::string>& calls) {
    auto equals = text.find('=');
    std::string call = text.substr(0, equals);
    if (!calls.contains(call)) throw std::invalid_argument(option + ": unknown call: " + call);
    if (equals == std::string::npos) throw std::invalid_argument(option + ": expected CALL=VALUE");
    return {call, text.substr(equals + 1)};
}

void Validate(const ServiceConfig& config) {
    if (config.bindHost != "127.0.0.1" && config.bindHost != "::1")
        throw std::invalid_argument("--bind: only 127.0.0.1 or ::1 (loopback)");
    if (!config.httpPort && !config.httpsPort) throw std::invalid_argument("give --http-port and/or --https-port");
    bool haveCert = !config.certFile.empty() && !config.keyFile.empty();
    if (config.plainDescription && !config.httpPort)
        throw std::invalid_argument("--plain-description needs --http-port");
    if (config.httpsPort && !haveCert && config.makeCertsDir.empty())
        throw std::invalid_argument("--https-port needs --cert and --key, or --make-certs");
}

}  // namespace

std::optional<ServiceConfig> ParseCommandLine(const std::vector<std::string>& args) {
    ServiceConfig config;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") return std::nullopt;
        if (option == "--no-ranges") {
            config.ranges = false;
            continue;
        }
        if (option == "--plain-description") {
            config.plainDescription = true;
            continue;
        }
        if (i + 1 >= args.size()) throw std::invalid_argument(option + ": missing value");
        const std::string& value = args[++i];

        if (option == "--http-port")
            config.httpPort = ParsePort(option, value);
        else if (option == "--https-port")
            config.httpsPort = ParsePort(option, value);
        else if (option == "--bind")
            config.bindHost = value;
        else if (option == "--cert")
            config.certFile = value;
        else if (option == "--key")
            config.keyFile = value;
        else if (option == "--make-certs")
            config.makeCertsDir = value;
        else if (option == "--update-set")
            config.updateSet = value;
        else if (option == "--log")
            config.callLog = value;
        else if (option == "--port-file")
            config.portFile = value;
        else if (option == "--content-url")
            config.contentUrl = value;
        else if (option == "--wsse-user")
            config.wsseUser = value;
        else if (option == "--wsse-password")
            config.wssePassword = value;
        else if (option == "--ver-gen")
            config.offer.verGen = value;
        else if (option == "--ver-major")
            config.offer.verMajor = value;
        else if (option == "--ver-minor")
            config.offer.verMinor = value;
        else if (option == "--product-name")
            config.offer.productName = value;
        else if (option == "--map-size")
            config.mapSize = ParseCount(option, value);
        else if (option == "--line-test-bytes")
            config.lineTestBytes = ParseCount(option, value);
        else if (option == "--slow")
            config.bytesPerSecond = ParseCount(option, value);
        else if (option == "--status") {
            auto [call, rest] = SplitCall(option, value, kAllCalls);
            auto [status, times] = SplitTimes(option, rest);
            StatusFault fault;
            fault.status = static_cast<int>(ParseCount(option, status));
            if (fault.status < 100 || fault.status > 599)
                throw std::invalid_argument(option + ": not an HTTP status: " + status);
            fault.times = times;
            config.statusFaults[call] = fault;
        } else if (option == "--result") {
            auto [call, rest] = SplitCall(option, value, kXmlCalls);
            auto [pair, times] = SplitTimes(option, rest);
            auto slash = pair.find('/');
            if (slash == std::string::npos) throw std::invalid_argument(option + ": expected CALL=RESULT-CD/DETAIL-CD");
            ResultFault fault;
            fault.resultCd = pair.substr(0, slash);
            fault.resultDetailCd = pair.substr(slash + 1);
            fault.times = times;
            config.resultFaults[call] = fault;
        } else if (option == "--malformed") {
            auto [call, times] = SplitTimes(option, value);
            if (!kXmlCalls.contains(call)) throw std::invalid_argument(option + ": unknown call: " + call);
            config.malformedFaults[call].times = times;
        } else if (option == "--drop-after") {
            auto [bytes, times] = SplitTimes(option, value);
            ByteFault fault;
            if (std::size_t equals = bytes.rfind('='); equals != std::string::npos) {
                fault.file = bytes.substr(0, equals);
                bytes = bytes.substr(equals + 1);
            }
            fault.bytes = ParseCount(option, bytes);
            fault.times = times;
            config.dropAfter = fault;
        } else {
            throw std::invalid_argument("unknown option: " + option);
        }
    }
    Validate(config);
    return config;
}

const char* UsageText() {
    return R"(Usage: mapservice [options]

Stand-in for the map-update web service, on loopback only. Answers the XML calls
POST /map-dl/MDL, /map-dl/DLS, /map-dl/TSC (percent-encoded bodies, X-WSSE checked),
serves the download description GET /map-dl/MapData.XML generated from an update-set
folder, the line-test data GET /map-dl/LINETEST.DAT and the files GET /map-dl/data/<path>.
Stops cleanly on SIGTERM or SIGINT.

Listening:
  --http-port PORT          serve plain HTTP (0 = pick a free port)
  --https-port PORT         serve HTTPS (0 = pick a free port)
  --bind ADDRESS            127.0.0.1 (default) or ::1
  --port-file FILE          write "http=PORT" / "https=PORT" lines once listening
  --cert FILE --key FILE    server certificate and key (PEM) for HTTPS
  --make-certs DIR          create a test CA and a certificate for 127.0.0.1, ::1 and
                            localhost: DIR/ca.pem (trust this), DIR/server.pem,
                            DIR/server-key.pem; HTTPS then uses them

Content:
  --update-set DIR          folder whose files the description lists and GET serves
  --content-url URL         base of conf-file-url and of the file urls (default: the
                            scheme and Host the client used)
  --plain-description       conf-file-url names the plain HTTP listener, even for a
                            call that came over HTTPS (needs --http-port)
  --map-size UNITS          announce this MapSize (units of 1,044,480 bytes) instead of
                            the set's own
  --line-test-bytes N       size of the line-test data (default 65536)
  --ver-gen / --ver-major / --ver-minor TEXT
                            offered version parts (default 2026 / 04 / 1)
  --product-name TEXT       offered product name, UTF-8
  --wsse-user TEXT          expected WSSE user name (default NaviUser)
  --wsse-password TEXT      password the digest is made with (default KestrelWing)

Faults (CALL is MDL, DLS, TSC, MapData, LineTest or File; :TIMES limits a fault to
the first TIMES calls of that kind, otherwise it applies to every call):
  --status CALL=CODE[:TIMES]            answer with this HTTP status
  --result CALL=CD/DETAIL[:TIMES]       answer result-cd CD, result-detail-cd DETAIL
                                        (MDL, DLS, TSC)
  --malformed CALL[:TIMES]              answer a reply cut inside its out-param-section
  --slow BYTES_PER_SECOND               pace every GET body to this rate
  --drop-after [PATH=]BYTES[:TIMES]     close the connection once a map file's byte BYTES
                                        (counted from the file's start) is due; PATH (as in
                                        the URL after data/) limits it to that file
  --no-ranges                           ignore Range and If-Range: every file goes whole

Logging:
  --log FILE                append one JSON line per call received

  --help                    show this text
)";
}

}  // namespace mapservice
