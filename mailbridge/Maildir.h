#pragma once
// Reading one mailbox: a Maildir as Postfix, Dovecot and other delivery
// agents write it (messages as files in new/ and cur/, tmp/ is delivery in
// progress).  A message is known by its unique name, the file name before
// the ":2,flags" info, which stays the same when a mail reader moves it from
// new/ to cur/ or changes its flags.  A message the user trashed (flag T) or,
// unless configured otherwise, has read (flag S) is not waiting any more.
//
// The kind of a message (fax, voice, anything else SMS) comes from a header
// (for example "X-Message-Kind: voice") or from the Maildir++ sub-folder it
// lies in (".Fax", ".Voice"; everything in the inbox is SMS).
#include "Config.h"
#include "StopSignal.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantorq9 {

inline constexpr char KindSms = 'Q';
inline constexpr char KindVoice = 'H';
inline constexpr char KindFax = 'F';

struct MaildirEntry {
    std::string key; // unique within the mailbox (sub-folder and unique name)
    std::filesystem::path file;
    char kind = 0; // from the folder; 0: read it from the header
};

struct MaildirListing {
    bool ok = true;
    std::string error;                 // why the mailbox could not be read
    std::vector<MaildirEntry> entries; // each key once
};

// Lists the waiting messages.  A mailbox whose folder, new/ or cur/ cannot be
// read gives ok = false with the reason; broken or odd files inside are
// skipped or counted, never an error.  A stop ends the listing (ok = false).
MaildirListing ListMaildir(const std::filesystem::path& root, const KindConfig& kinds,
                           const CancelToken& cancel);

// The kind by the header rule.  nullopt when the file has gone (moved by a
// mail reader since it was listed); a file that cannot be read or holds no
// such header is SMS, with `problem` saying why when it could not be read.
std::optional<char> KindFromHeader(const std::filesystem::path& file, const KindConfig& kinds,
                                   std::string& problem);

} // namespace vantorq9
