#pragma once
// Recording collaborators for the data store tests.
#include "exchange/DataStore.h"
#include "exchange/PluginFeed.h"
#include "toolkit/FileAppender.h"
#include "toolkit/TextSource.h"

#include <map>
#include <string>
#include <vector>

namespace vantor::storetest {

struct RecordingHooks : DataStoreHooks {
    int flushes = 0;
    int shortsRestarts = 0;
    std::vector<std::string> faults;
    void FlushReplyCache() override { ++flushes; }
    void RestartShortsTimer() override { ++shortsRestarts; }
    void ReportFault(std::string_view text) override { faults.emplace_back(text); }
};

struct RecordingFeed : PluginFeed {
    bool active = true;
    std::vector<std::string> calls; // call names in order
    std::vector<std::uint8_t> lastInfo, lastPorts, lastStates, lastCLIP, lastFront, lastLines;
    int lastLineCount = -1, lastCLIPLine = -1, lastFrontOffset = -1, lastPortCount = -1;
    std::vector<std::uint8_t> lastShorts;
    std::vector<std::uint16_t> lastPersonal;

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
    void PutAccLine(std::string_view) override { calls.push_back("PutAccLine"); }
    void PutShorts(std::span<const std::uint8_t, 15576> shorts,
                   std::span<const std::uint16_t, 960> personal) override {
        calls.push_back("PutShorts");
        lastShorts.assign(shorts.begin(), shorts.end());
        lastPersonal.assign(personal.begin(), personal.end());
    }
};

// Keeps appended bytes per path in memory; can be told to fail.
struct MemoryAppender : FileAppender {
    std::map<std::string, std::string>* files;
    bool* fail;
    MemoryAppender(std::map<std::string, std::string>* f, bool* failFlag)
        : files(f), fail(failFlag) {}
    bool Append(const std::string& path, std::string_view bytes) override {
        if (*fail) return false;
        (*files)[path].append(bytes);
        return true;
    }
    std::string errorText() const override { return *fail ? "locked" : ""; }
};

struct MapTexts : TextSource {
    std::map<int, std::string> msgs;
    std::string Msg(int number) const override {
        auto it = msgs.find(number);
        return it == msgs.end() ? std::string() : it->second;
    }
    std::string Text(int number) override { return Msg(number); }
};

} // namespace vantor::storetest
