// The local service's command line: faults with and without repeat counts, help, and settings it
// cannot serve.
#include "Config.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace mapservice {
namespace {

ServiceConfig Parse(std::vector<std::string> args) {
    auto config = ParseCommandLine(args);
    EXPECT_TRUE(config);
    return config.value_or(ServiceConfig{});
}

TEST(Config, ReadsFaultsWithAndWithoutRepeatCounts) {
    auto config = Parse({"--http-port", "0", "--status", "MDL=503:2", "--status", "File=500", "--result", "TSC=E00/E04",
                         "--malformed", "DLS:1", "--drop-after", "3000", "--slow", "8000"});
    EXPECT_EQ(config.httpPort, 0);
    EXPECT_FALSE(config.httpsPort);
    EXPECT_EQ(config.statusFaults.at("MDL").status, 503);
    EXPECT_EQ(config.statusFaults.at("MDL").times, 2);
    EXPECT_FALSE(config.statusFaults.at("File").times);
    EXPECT_EQ(config.resultFaults.at("TSC").resultCd, "E00");
    EXPECT_EQ(config.resultFaults.at("TSC").resultDetailCd, "E04");
    EXPECT_EQ(config.malformedFaults.at("DLS").times, 1);
    EXPECT_EQ(config.dropAfter->bytes, 3000u);
    EXPECT_FALSE(config.dropAfter->times);
    EXPECT_EQ(config.bytesPerSecond, 8000u);
}

TEST(Config, ADropMayNameItsFileAndRangesMayBeTurnedOff) {
    auto config = Parse({"--no-ranges", "--http-port", "0", "--drop-after", "FLASH/RENEWAL/MAP01.ZIP=3000:1"});
    EXPECT_FALSE(config.ranges);
    EXPECT_EQ(config.dropAfter->file, "FLASH/RENEWAL/MAP01.ZIP");
    EXPECT_EQ(config.dropAfter->bytes, 3000u);
    EXPECT_EQ(config.dropAfter->times, 1);
    EXPECT_TRUE(Parse({"--http-port", "0"}).ranges);
}

TEST(Config, TheDescriptionMayBeNamedOverPlainHttpAndItsSizeAnnouncedSmaller) {
    auto config = Parse({"--plain-description", "--http-port", "0", "--map-size", "3"});
    EXPECT_TRUE(config.plainDescription);
    EXPECT_EQ(config.mapSize, 3u);
    EXPECT_FALSE(Parse({"--http-port", "0"}).mapSize);
}

TEST(Config, HelpIsNotAConfiguration) {
    EXPECT_FALSE(ParseCommandLine({"--help"}));
    EXPECT_FALSE(ParseCommandLine({"--http-port", "0", "--help"}));
}

TEST(Config, RefusesWhatCannotBeServed) {
    using Args = std::vector<std::string>;
    for (const Args& args : {
             Args{},                                         // no listener
             Args{"--http-port", "0", "--bind", "0.0.0.0"},  // not loopback
             Args{"--https-port", "0"},                      // no certificate
             Args{"--http-port", "70000"}, Args{"--http-port", "8x"}, Args{"--http-port"},
             Args{"--http-port", "0", "--status", "FOO=500"}, Args{"--http-port", "0", "--status", "MDL=42"},
             Args{"--http-port", "0", "--result", "File=E00/E00"},  // no result-cd in a file
             Args{"--http-port", "0", "--result", "MDL=E00"}, Args{"--http-port", "0", "--malformed", "MapData"},
             Args{"--http-port", "0", "--proxy-auth", "u:p"},  // no proxy emulation
             Args{"--http-port", "0", "--frobnicate", "1"},
             Args{"--https-port", "0", "--make-certs", "d", "--plain-description"},  // no plain listener
         })
        EXPECT_THROW(ParseCommandLine(args), std::invalid_argument) << testing::PrintToString(args);
}

}  // namespace
}  // namespace mapservice
