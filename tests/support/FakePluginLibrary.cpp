#include "FakePluginLibrary.h"

namespace vantor::test {
PluginLibraryState pluginLib;
} // namespace vantor::test

using vantor::test::pluginLib;

void XAPI_Init(void* window, unsigned int message) {
    pluginLib.calls.push_back("Init");
    pluginLib.window = window;
    pluginLib.message = message;
}
void XAPI_DeInit() { pluginLib.calls.push_back("DeInit"); }
void XAPI_PutLines(int count, char* numbers) {
    pluginLib.calls.push_back("PutLines");
    pluginLib.lastCount = count;
    pluginLib.lastBytes.assign(numbers, numbers + 224);
    numbers[0] = 'X'; // a plug-in scribbling on what it got
}
void XAPI_PutInfo(TInfo* info) {
    pluginLib.calls.push_back("PutInfo");
    pluginLib.lastBytes.assign(info->Data, info->Data + 7);
}
void XAPI_PutPorts(TPortStruct* ports) {
    pluginLib.calls.push_back("PutPorts");
    pluginLib.lastBytes.assign(ports->Data, ports->Data + 144);
}
void XAPI_PutStates(int count, TStavLinek* lines) {
    pluginLib.calls.push_back("PutStates");
    pluginLib.lastCount = count;
    pluginLib.lastBytes.assign(reinterpret_cast<unsigned char*>(lines),
                               reinterpret_cast<unsigned char*>(lines) + 4 * count);
}
void XAPI_PutCLIP(int line, char* data) {
    pluginLib.calls.push_back("PutCLIP");
    pluginLib.lastCount = line;
    pluginLib.lastText = data;
}
void XAPI_PutFront(int offset, TFront* front) {
    pluginLib.calls.push_back("PutFront");
    pluginLib.lastCount = offset;
    pluginLib.lastBytes.assign(front->Data, front->Data + sizeof front->Data);
}
void XAPI_GetCommand(int message, TStates* command) {
    pluginLib.calls.push_back("GetCommand");
    pluginLib.lastCommandMessage = message;
    if (pluginLib.fillCommand) *command = pluginLib.nextCommand;
}
void XAPI_PutAccLine(char* record) {
    pluginLib.calls.push_back("PutAccLine");
    pluginLib.lastText = record;
}
void XAPI_PutShorts(unsigned char* shorts, unsigned short (*personal)[20]) {
    pluginLib.calls.push_back("PutShorts");
    pluginLib.lastBytes.assign(shorts, shorts + 15576);
    pluginLib.lastCount = personal[47][19];
}
void XAPI_Users(Windows::TRect rect, Classes::TStringList* texts) {
    pluginLib.calls.push_back("Users");
    pluginLib.rect = rect;
    pluginLib.texts.assign(texts->Strings, texts->Strings + texts->Count);
}

namespace vantor::test {

std::map<std::string, void*> PluginLibraryExports() {
    void* addresses[] = {
        reinterpret_cast<void*>(&XAPI_Init),       reinterpret_cast<void*>(&XAPI_DeInit),
        reinterpret_cast<void*>(&XAPI_PutLines),   reinterpret_cast<void*>(&XAPI_PutInfo),
        reinterpret_cast<void*>(&XAPI_PutPorts),   reinterpret_cast<void*>(&XAPI_PutStates),
        reinterpret_cast<void*>(&XAPI_PutCLIP),    reinterpret_cast<void*>(&XAPI_PutFront),
        reinterpret_cast<void*>(&XAPI_GetCommand), reinterpret_cast<void*>(&XAPI_PutAccLine),
        reinterpret_cast<void*>(&XAPI_PutShorts),  reinterpret_cast<void*>(&XAPI_Users),
    };
    std::map<std::string, void*> symbols;
    for (std::size_t i = 0; i < 12; ++i) symbols[XapiEntryNames[i]] = addresses[i];
    return symbols;
}

} // namespace vantor::test
