// The simulator's command line.
#include "SimOptions.h"

#include <gtest/gtest.h>

using namespace vantor::sim;

namespace {

ParsedOptions Parse(std::vector<std::string_view> args) { return ParseCommandLine(args); }

} // namespace

TEST(SimOptions, DefaultsPlayAWellBehavedExchange) {
    auto p = Parse({});
    ASSERT_TRUE(p.options) << p.error;
    const SimOptions& o = *p.options;
    EXPECT_EQ(o.model.ports, 8);
    EXPECT_EQ(o.model.configByte4, 2); // what the gateway's identification check wants
    EXPECT_EQ(o.model.configByte5, 0);
    EXPECT_FALSE(o.model.records.has_value());
    EXPECT_FALSE(o.faults.silent || o.faults.split || o.faults.nakEvery || o.faults.crcErrorEvery ||
                 o.faults.delayMs);
    EXPECT_EQ(o.line.baud, 0u) << "no pacing unless asked for";
    EXPECT_EQ(o.line.thinkMs, 0u);
}

TEST(SimOptions, EveryOptionReachesItsSetting) {
    auto p = Parse({"--link",
                    "/tmp/ttyX",
                    "--ports",
                    "12",
                    "--records=0",
                    "--record-every",
                    "250",
                    "--records-handed",
                    "41",
                    "--silent",
                    "--crc-error-every",
                    "5",
                    "--nak-every=7",
                    "--delay-ms",
                    "40",
                    "--split",
                    "--split-gap-ms",
                    "3",
                    "--config-byte4",
                    "0x03",
                    "--config-byte5",
                    "1",
                    "--info-blocks",
                    "30",
                    "--line-offset",
                    "2",
                    "--message-every",
                    "0",
                    "--line-step-ms",
                    "10",
                    "--log",
                    "sim.log",
                    "--seed",
                    "42",
                    "--baud",
                    "19200",
                    "--think=5"});
    ASSERT_TRUE(p.options) << p.error;
    const SimOptions& o = *p.options;
    EXPECT_EQ(o.link, "/tmp/ttyX");
    EXPECT_EQ(o.model.ports, 12);
    EXPECT_EQ(o.model.records, std::optional<std::uint64_t>(0));
    EXPECT_EQ(o.model.recordEveryMs, 250u);
    EXPECT_EQ(o.model.recordsHanded, 41u);
    EXPECT_TRUE(o.faults.silent);
    EXPECT_EQ(o.faults.crcErrorEvery, 5u);
    EXPECT_EQ(o.faults.nakEvery, 7u);
    EXPECT_EQ(o.faults.delayMs, 40u);
    EXPECT_TRUE(o.faults.split);
    EXPECT_EQ(o.faults.splitGapMs, 3u);
    EXPECT_EQ(o.model.configByte4, 3);
    EXPECT_EQ(o.model.configByte5, 1);
    EXPECT_EQ(o.model.infoBlocks, 30);
    EXPECT_EQ(o.model.lineOffset, 2);
    EXPECT_EQ(o.model.messageEvery, 0u);
    EXPECT_EQ(o.model.lineStepMs, 10u);
    EXPECT_EQ(o.logPath, "sim.log");
    EXPECT_EQ(o.model.seed, 42u);
    EXPECT_EQ(o.line.baud, 19200u);
    EXPECT_EQ(o.line.thinkMs, 5u);
    EXPECT_TRUE(Parse({"--help"}).options->help);
}

TEST(SimOptions, RefusesWhatItCannotPlay) {
    struct Bad {
        std::vector<std::string_view> args;
        const char* error;
    };
    for (const Bad& b : std::vector<Bad>{
             {{"--ports", "64"},
              "bad value for --ports: 64"}, // a line-state reply must fit 256 bytes
             {{"--ports", "-1"}, "bad value for --ports: -1"},
             {{"--info-blocks", "31"}, "bad value for --info-blocks: 31"},
             {{"--config-byte4", "256"}, "bad value for --config-byte4: 256"},
             {{"--records", "many"}, "bad value for --records: many"},
             // Record numbers have six digits.
             {{"--records-handed", "1000000"}, "bad value for --records-handed: 1000000"},
             {{"--delay-ms", "10ms"}, "bad value for --delay-ms: 10ms"},
             {{"--line-step-ms", "0"}, "bad value for --line-step-ms: 0"},
             {{"--seed", "0x"}, "bad value for --seed: 0x"},
             {{"--baud", "4000001"}, "bad value for --baud: 4000001"},
             {{"--think", "-5"}, "bad value for --think: -5"},
             {{"--link", ""}, "bad value for --link: "},
             {{"--nak-every"}, "--nak-every needs a value"},
             {{"--frobnicate"}, "unknown option --frobnicate"},
             {{"ports"}, "unknown option ports"},
             {{"--silent=yes"}, "unknown option --silent=yes"},
         }) {
        auto p = Parse(b.args);
        EXPECT_FALSE(p.options) << b.error;
        EXPECT_EQ(p.error, b.error);
    }
}
