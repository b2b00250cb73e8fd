#pragma once
// A call-centre plug-in feed that records what it is handed, in call order.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "exchange/PluginFeed.h"

namespace vantor::test {

struct RecordingFeed : PluginFeed {
    bool active = true;
    std::vector<std::string> calls; // call names in order
    std::vector<std::uint8_t> lastInfo, lastPorts, lastStates, lastCLIP, lastFront, lastLines;
    int lastLineCount = -1, lastCLIPLine = -1, lastFrontOffset = -1, lastPortCount = -1;
    std::vector<std::uint8_t> lastShorts;
    std::vector<std::uint16_t> lastPersonal;
    std::vector<std::pair<int, std::vector<std::uint8_t>>> stateCalls;
    std::vector<std::string> accLines;
    int shorts = 0;

    bool Active() const override { return active; }
    void PutInfo(std::span<const std::uint8_t, 7> info) override {
        calls.push_back("PutInfo");
        lastInfo.assign(info.begin(), info.end());
    }
    void PutLines(int portCount, std::span<const std::uint8_t, 224> numbers) override {
        calls.push_back("PutLines");
        lastPortCount = portCount;
        lastLines.assign(numbers.begin(), numbers.end());
    }
    void PutPorts(std::span<const std::uint8_t, 144> ports) override {
        calls.push_back("PutPorts");
        lastPorts.assign(ports.begin(), ports.end());
    }
    void PutStates(int lineCount, std::span<const std::uint8_t> states) override {
        calls.push_back("PutStates");
        lastLineCount = lineCount;
        lastStates.assign(states.begin(), states.end());
        stateCalls.emplace_back(lineCount, lastStates);
    }
    void PutCLIP(int line, std::span<const std::uint8_t> data) override {
        calls.push_back("PutCLIP");
        lastCLIPLine = line;
        lastCLIP.assign(data.begin(), data.end());
    }
    void PutFront(int offset, std::span<const std::uint8_t> front) override {
        calls.push_back("PutFront");
        lastFrontOffset = offset;
        lastFront.assign(front.begin(), front.end());
    }
    void PutAccLine(std::string_view record) override {
        calls.push_back("PutAccLine");
        accLines.emplace_back(record);
    }
    void PutShorts(std::span<const std::uint8_t, 15576> shortNumbers,
                   std::span<const std::uint16_t, 960> personal) override {
        calls.push_back("PutShorts");
        ++shorts;
        lastShorts.assign(shortNumbers.begin(), shortNumbers.end());
        lastPersonal.assign(personal.begin(), personal.end());
    }
};

} // namespace vantor::test
