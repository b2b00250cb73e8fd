#pragma once
// The numbers of the language file's texts, by name.  msg:: numbers the
// cached [Texty] section (TextSource::Msg), txt:: the [Text] section read on
// demand (TextSource::Text).  Every numbered text the gateway shows is listed
// here once, so a reader finds what a log line says without the file.
namespace vantor {

namespace msg {
// Names of the requests the gateway sends, and replies it logs.
inline constexpr int Configuration = 100;
inline constexpr int Identification = 101;
inline constexpr int LineStates = 102;
inline constexpr int PortList = 103;
inline constexpr int SWState = 104;
inline constexpr int LinkStartRefused = 105; // "... code " + number
inline constexpr int LinkStarted = 106;
inline constexpr int AccountingRequest = 107;
inline constexpr int LineStateRequest = 108;
inline constexpr int MessageRequest = 109;
inline constexpr int NoMessage = 110;
inline constexpr int MessageAcknowledged = 111;
inline constexpr int MessageReadFailed = 112; // "... code " + number
inline constexpr int MailboxCheck = 113;
inline constexpr int CountersToExchange = 114;
inline constexpr int NoMailboxChange = 115;
inline constexpr int LinkLost = 116;
inline constexpr int LinkRestored = 117;
inline constexpr int Listening = 119;
inline constexpr int ListenFailed = 121;
inline constexpr int NoConfigurationFile = 122;
inline constexpr int WarningCaption = 123;
inline constexpr int SerialPortOpened = 124;     // + the settings text
inline constexpr int SerialPortOpenFailed = 125; // + the settings text
inline constexpr int MailConnected = 126;
inline constexpr int MailConnectFailed = 127;
inline constexpr int NoAccountingRecord = 128;
inline constexpr int LocalAddress = 129;
inline constexpr int RemoteAddress = 130;
inline constexpr int CountersRefused = 131; // "... code " + number
inline constexpr int CountersAccepted = 132;
inline constexpr int ClearingIndicators = 133;
inline constexpr int SerialPortCannotOpen = 134;
inline constexpr int ResumeCaption = 135;
inline constexpr int StopCaption = 136;
inline constexpr int ErrorCaption = 137;
inline constexpr int ErrorCode = 138; // "error " + number
inline constexpr int GatewayVersion = 139;
inline constexpr int ExchangeVersion = 140;
inline constexpr int ConfigurationUnsupported = 141;
inline constexpr int ConfigurationUnsupportedNote = 142;
inline constexpr int ConfigurationUnverified = 143;
inline constexpr int ConfigurationUnverifiedNote = 144;
inline constexpr int IdentificationOk = 145;
inline constexpr int CannotCreateAccountingFile = 146;
inline constexpr int Queue = 147;
// Texts with values: "%1", "%2" ... mark where each value goes (FormatText).
inline constexpr int GatewayFolder = 148;          // folder
inline constexpr int SerialDeviceLost = 149;       // device, error number
inline constexpr int SettingNotANumber = 150;      // "[Section] Key=value", default
inline constexpr int SettingOutOfRange = 151;      // "[Section] Key=value", min, max, default
inline constexpr int IPAllowEntryRefused = 152;    // entry
inline constexpr int NoNotificationArea = 153;     // status line when the window cannot hide
inline constexpr int PathNotStorable = 154;        // path
inline constexpr int PathTooLong = 155;            // capacity, path
inline constexpr int HelpFileNotFound = 156;       // help file, file pattern; the folders follow
inline constexpr int HelpNotOpened = 157;          // the help file's path follows
inline constexpr int PortSettingsTooLong = 158;    // settings text, its length, the limit
// The relay's limits and the snapshots it will not serve.
inline constexpr int ClientRefusedLimit = 180; // followed by MaxClients
inline constexpr int ClientRefusedDescriptors = 181;
inline constexpr int RefusedSinceLastLine = 182;   // followed by the count
inline constexpr int LineStatesReplyTooLong = 183; // followed by "reply > kept" bytes
inline constexpr int SWReplyTooLong = 184;         // likewise
inline constexpr int IPBindInvalid = 185;          // followed by the value
inline constexpr int ServiceNeedsRights = 200;
// The log names of exchange commands and sub-commands.
inline constexpr int CommandNameBase = 1000;
inline constexpr int SubCommandNameBase = 2000;
} // namespace msg

namespace txt {
// The address types of the trap settings, in list order.
inline constexpr int AddressInternet = 100;
inline constexpr int AddressSms = 101;
inline constexpr int AddressRemote = 102;
inline constexpr int AddressLocal = 103;
inline constexpr int AddressZModem = 199;
// Default trap messages.
inline constexpr int TrapLinkRestored = 200;
inline constexpr int TrapLinkLost = 299;
// The mailbox poll.
inline constexpr int MailboxReread = 300;
inline constexpr int MailboxReadFailed = 301;
inline constexpr int MailboxesReadFailed = 399;
} // namespace txt

} // namespace vantor
