#pragma once
// An in-process stand-in for the call-centre plug-in: the twelve entry points
// defined with the very declarations of the shipped header (so they carry
// the names a plug-in's compiler gives them), recording their calls in one
// shared state.
#include <map>
#include <string>
#include <vector>

#include "plugin/XapiAbi.h"

namespace vantor::test {

struct PluginLibraryState {
    std::vector<std::string> calls;
    void* window = nullptr;
    unsigned message = 0;
    int lastCount = -1;
    std::vector<unsigned char> lastBytes;
    std::string lastText;
    Windows::TRect rect{};
    std::vector<std::string> texts;
    TStates nextCommand{};
    bool fillCommand = true;
    int lastCommandMessage = -1;
};

// The one state of the stand-in; reset it at the start of each test.
extern PluginLibraryState pluginLib;

// Every entry point by its exported name.
std::map<std::string, void*> PluginLibraryExports();

} // namespace vantor::test
