#include "service/GatewayHealth.h"

#include "toolkit/SystemService.h"

namespace vantor {

namespace {

// The units give the service a /tmp of its own, so a device link that a
// simulator made under the system's /tmp is not there for it.  Whether a
// drop-in took that back cannot be seen from inside, hence the "unless".
std::string SerialPhrase(const GatewayHealth& health) {
    std::string phrase = "serial port not open: " + health.serialPort;
    const std::string& device = health.serialDevice;
    if (device.starts_with("/tmp/") || device.starts_with("/var/tmp/"))
        phrase += " (the service does not see the system's /tmp unless a drop-in sets "
                  "PrivateTmp=no: see vantor(1))";
    return phrase;
}

std::string LinkPhrase(TDateTime since) { return "link lost since " + FormatLongTime(since); }

std::string Capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 32);
    return text;
}

} // namespace

std::vector<std::string> HealthPhrases(const GatewayHealth& health) {
    std::vector<std::string> phrases;
    if (!health.serialPort.empty()) phrases.push_back(SerialPhrase(health));
    if (health.linkLostSince != 0) phrases.push_back(LinkPhrase(health.linkLostSince));
    if (!health.listeningPort.empty())
        phrases.push_back("TCP port not open: " + health.listeningPort);
    if (!health.accountingFile.empty())
        phrases.push_back("accounting file not writable: " + health.accountingFile);
    return phrases;
}

std::vector<HealthEvent> HealthChanges(const GatewayHealth& before, const GatewayHealth& now) {
    std::vector<HealthEvent> events;
    // A condition that goes on with another reason is no new event: a line
    // that fails a little differently at each retry must not flood the log.
    auto change = [&events](bool was, bool is, std::string began, std::string ended) {
        if (!was && is) events.push_back({EventLog::Error, Capitalised(std::move(began))});
        if (was && !is) events.push_back({EventLog::Information, std::move(ended)});
    };
    change(!before.serialPort.empty(), !now.serialPort.empty(), SerialPhrase(now),
           "Serial port open again");
    change(before.linkLostSince != 0, now.linkLostSince != 0,
           "Link to the exchange lost at " + FormatLongTime(now.linkLostSince),
           "Link to the exchange restored (lost since " + FormatLongTime(before.linkLostSince) +
               ")");
    change(!before.listeningPort.empty(), !now.listeningPort.empty(),
           "TCP port not open: " + now.listeningPort, "TCP port open again");
    change(!before.accountingFile.empty(), !now.accountingFile.empty(),
           "accounting file not writable: " + now.accountingFile +
               "; the exchange keeps the record until it is written",
           "Accounting file writable again");
    return events;
}

} // namespace vantor
