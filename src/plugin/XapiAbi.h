#pragma once
// Interface of a call-centre plug-in library (Zelkor.dll; libZelkor.so on
// Linux) for plug-in authors.  A plug-in written in C++ against this header
// exports the twelve functions below; the gateway looks them up by the names
// their declarations get from the compiler (see XapiEntryNames), so the
// declarations must stay as they are: global namespace, these parameter
// types, no extern "C".
//
// All calls come from the gateway's one loop thread.  To announce a command
// the plug-in posts message XapiCommandMessage through the window handle it
// got from XAPI_Init (XapiPostMessage, safe from any thread); the gateway then
// calls XAPI_GetCommand with the posted value and a record to fill.
#include <cstdint>

#pragma pack(push, 1)

// The 7 bytes of exchange info (byte 2: line offset, byte 3: personal blocks).
struct TInfo {
    unsigned char Data[7];
};

// The exchange's port structure.
struct TPortStruct {
    unsigned char Data[144];
};

// One line of the line-state table.
struct TStavLinek {
    unsigned char State; // state code
    unsigned char Data1; // as received
    unsigned char Data2; // as received
    unsigned char Flags; // bit 0: caller data waiting
};

// The queue reply of the exchange without its result byte.  The gateway
// passes a zero-padded buffer of this size, so a plug-in never reads past it.
struct TFront {
    unsigned char Data[512];
};

// A command of the plug-in for the exchange, filled by XAPI_GetCommand.
struct TStates {
    unsigned char Kind; // 0 speaker, 1 microphone, 2 volume up, 3 volume down,
                        // 4 dial, 5 queue, 6 short number, 7 transfer,
                        // 8 hold, 9 park
    unsigned char Param1;
    unsigned char Param2;
    unsigned char Param3;
    std::uint32_t Port;     // the low byte is the exchange port
    unsigned char Data[80]; // dial text (NUL-terminated) or command bytes
};

#pragma pack(pop)

static_assert(sizeof(TInfo) == 7);
static_assert(sizeof(TPortStruct) == 144);
static_assert(sizeof(TStavLinek) == 4);
static_assert(sizeof(TStates) == 88);

namespace Windows {
// A rectangle passed by value: the gateway puts the main window's left, top,
// width and height into Left, Top, Right and Bottom.
struct TRect {
    std::int32_t Left;
    std::int32_t Top;
    std::int32_t Right;
    std::int32_t Bottom;
};
} // namespace Windows

namespace Classes {
// The current language's texts as "number=text" lines (8-bit, Windows-1250).
struct TStringList {
    int Count;
    const char* const* Strings;
};
} // namespace Classes

// The window handle given to XAPI_Init: a small object through which the
// plug-in posts messages to the gateway's loop.  Post is thread-safe.
struct XapiWindow {
    void (*Post)(XapiWindow* self, unsigned int message, long lParam);
    void* Gateway; // the gateway's own; do not touch
};

inline constexpr unsigned int XapiCommandMessage = 33169; // 0x8191

inline void XapiPostMessage(void* window, unsigned int message, long lParam) {
    auto* handle = static_cast<XapiWindow*>(window);
    if (handle != nullptr && handle->Post != nullptr) handle->Post(handle, message, lParam);
}

#ifdef _WIN32
#define VANTOR_XAPI_EXPORT __declspec(dllexport)
#else
#define VANTOR_XAPI_EXPORT __attribute__((visibility("default")))
#endif

// Entry points, in the order the gateway looks them up.
VANTOR_XAPI_EXPORT void XAPI_Init(void* window, unsigned int message);
VANTOR_XAPI_EXPORT void XAPI_DeInit();
VANTOR_XAPI_EXPORT void XAPI_PutLines(int portCount, char* portNumbers);
VANTOR_XAPI_EXPORT void XAPI_PutInfo(TInfo* info);
VANTOR_XAPI_EXPORT void XAPI_PutPorts(TPortStruct* ports);
VANTOR_XAPI_EXPORT void XAPI_PutStates(int lineCount, TStavLinek* lines);
VANTOR_XAPI_EXPORT void XAPI_PutCLIP(int line, char* callerData);
VANTOR_XAPI_EXPORT void XAPI_PutFront(int lineOffset, TFront* front);
VANTOR_XAPI_EXPORT void XAPI_GetCommand(int message, TStates* command);
VANTOR_XAPI_EXPORT void XAPI_PutAccLine(char* record);
VANTOR_XAPI_EXPORT void XAPI_PutShorts(unsigned char* shortNumbers, unsigned short (*personal)[20]);
VANTOR_XAPI_EXPORT void XAPI_Users(Windows::TRect rect, Classes::TStringList* texts);

// The names the twelve declarations above get on this platform.
inline constexpr const char* XapiEntryNames[12] = {
    "_Z9XAPI_InitPvj",
    "_Z11XAPI_DeInitv",
    "_Z13XAPI_PutLinesiPc",
    "_Z12XAPI_PutInfoP5TInfo",
    "_Z13XAPI_PutPortsP11TPortStruct",
    "_Z14XAPI_PutStatesiP10TStavLinek",
    "_Z12XAPI_PutCLIPiPc",
    "_Z13XAPI_PutFrontiP6TFront",
    "_Z15XAPI_GetCommandiP7TStates",
    "_Z15XAPI_PutAccLinePc",
    "_Z14XAPI_PutShortsPhPA20_t",
    "_Z10XAPI_UsersN7Windows5TRectEPN7Classes11TStringListE",
};
