// A plug-in built against the shipped header exactly as a plug-in author
// would, so the gateway's lookup by name is tested against a real compiler's
// names.  It records every call for the test to read back.
#include "plugin/XapiAbi.h"

#include <string>

namespace {
std::string calls;
std::string users; // the last XAPI_Users call in full
void* window = nullptr;
} // namespace

extern "C" VANTOR_XAPI_EXPORT const char* RecordingPluginCalls() { return calls.c_str(); }
// "left,top,right,bottom" and each text line after a '|'.
extern "C" VANTOR_XAPI_EXPORT const char* RecordingPluginUsers() { return users.c_str(); }
extern "C" VANTOR_XAPI_EXPORT void RecordingPluginPost(long lParam) {
    XapiPostMessage(window, XapiCommandMessage, lParam);
}

void XAPI_Init(void* w, unsigned int message) {
    window = w;
    calls += "Init(" + std::to_string(message) + ");";
}
void XAPI_DeInit() { calls += "DeInit;"; }
void XAPI_PutLines(int count, char*) { calls += "PutLines(" + std::to_string(count) + ");"; }
void XAPI_PutInfo(TInfo* info) { calls += "PutInfo(" + std::to_string(info->Data[3]) + ");"; }
void XAPI_PutPorts(TPortStruct*) { calls += "PutPorts;"; }
void XAPI_PutStates(int count, TStavLinek* lines) {
    calls += "PutStates(" + std::to_string(count) + "," +
             std::to_string(count > 0 ? lines[0].State : 0) + ");";
}
void XAPI_PutCLIP(int line, char* data) {
    calls += "PutCLIP(" + std::to_string(line) + "," + data + ");";
}
void XAPI_PutFront(int offset, TFront*) { calls += "PutFront(" + std::to_string(offset) + ");"; }
void XAPI_GetCommand(int message, TStates* command) {
    calls += "GetCommand(" + std::to_string(message) + ");";
    command->Kind = 7;
    command->Port = static_cast<std::uint32_t>(message);
}
void XAPI_PutAccLine(char* record) { calls += std::string("PutAccLine(") + record + ");"; }
void XAPI_PutShorts(unsigned char*, unsigned short (*)[20]) { calls += "PutShorts;"; }
void XAPI_Users(Windows::TRect rect, Classes::TStringList* texts) {
    calls += "Users(" + std::to_string(rect.Right) + "," + std::to_string(texts->Count) + ");";
    users = std::to_string(rect.Left) + "," + std::to_string(rect.Top) + "," +
            std::to_string(rect.Right) + "," + std::to_string(rect.Bottom);
    for (int i = 0; i < texts->Count; ++i) users += std::string("|") + texts->Strings[i];
}
