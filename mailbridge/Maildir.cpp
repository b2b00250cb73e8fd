#include "Maildir.h"

#include "IniText.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <system_error>

namespace vantorq9 {

namespace {

namespace fs = std::filesystem;

// Headers are read up to their end, but never more than this from one file.
constexpr std::size_t MaxHeaderBytes = 64 * 1024;
constexpr std::size_t CancelCheckEvery = 256;

struct Folder {
    fs::path path;
    std::string tag; // prefix of the keys
    char kind;       // 0: by header
    bool required;   // the inbox must be there; kind folders may be missing
};

// Adds the waiting messages of new/ or cur/ of one folder.  False with
// `error` when the directory cannot be read.
bool ListDirectory(const fs::path& dir, const Folder& folder, bool cur, const KindConfig& kinds,
                   const CancelToken& cancel, std::set<std::string>& seen,
                   std::vector<MaildirEntry>& out, std::string& error) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        error = dir.string() + ": " + ec.message();
        return false;
    }
    std::size_t count = 0;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        if (++count % CancelCheckEvery == 0 && cancel.Requested()) {
            error = "stopped";
            return false;
        }
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue; // directories, sockets, dangling links
        const std::size_t colon = name.find(':');
        const std::string unique = name.substr(0, colon);
        if (cur && colon != std::string::npos) {
            const std::string info = name.substr(colon + 1);
            if (info.starts_with("2,")) {
                const std::string flags = info.substr(2);
                if (flags.find('T') != std::string::npos) continue;
                if (!kinds.countSeen && flags.find('S') != std::string::npos) continue;
            }
        }
        std::string key = folder.tag + unique;
        if (!seen.insert(key).second) continue; // in new/ and cur/ during a move
        out.push_back({std::move(key), it->path(), folder.kind});
    }
    if (ec) {
        error = dir.string() + ": " + ec.message();
        return false;
    }
    return true;
}

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

} // namespace

MaildirListing ListMaildir(const fs::path& root, const KindConfig& kinds,
                           const CancelToken& cancel) {
    MaildirListing listing;
    std::vector<Folder> folders;
    if (kinds.rule == KindRule::Folder) {
        folders.push_back({root, "", KindSms, true});
        folders.push_back({root / kinds.faxFolder, "F/", KindFax, false});
        folders.push_back({root / kinds.voiceFolder, "H/", KindVoice, false});
    } else {
        folders.push_back({root, "", 0, true});
    }
    std::set<std::string> seen;
    for (const Folder& folder : folders) {
        std::error_code ec;
        if (!folder.required && !fs::exists(folder.path, ec)) continue;
        if (!fs::is_directory(folder.path, ec)) {
            listing.ok = false;
            listing.error = folder.path.string() + ": " +
                            (ec                            ? ec.message()
                             : fs::exists(folder.path, ec) ? "not a folder"
                                                           : std::string(std::strerror(ENOENT)));
            listing.entries.clear();
            return listing;
        }
        // new/ first: a message a mail reader moves to cur/ meanwhile is then
        // seen in one of the two (or both, and counted once), never in none.
        for (const bool cur : {false, true}) {
            const fs::path dir = folder.path / (cur ? "cur" : "new");
            if (!ListDirectory(dir, folder, cur, kinds, cancel, seen, listing.entries,
                               listing.error)) {
                listing.ok = false;
                listing.entries.clear();
                return listing;
            }
        }
    }
    return listing;
}

std::optional<char> KindFromHeader(const fs::path& file, const KindConfig& kinds,
                                   std::string& problem) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        const int error = errno;
        std::error_code ec;
        if (!fs::exists(file, ec) && !ec) return std::nullopt;
        problem = file.string() + ": " + std::strerror(error);
        return KindSms;
    }
    std::string head(MaxHeaderBytes, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));

    // Walk the header lines, joining folded continuation lines, up to the
    // blank line that ends the header.
    const std::string wanted = Lowered(kinds.header);
    std::string value;
    bool found = false;
    bool inWanted = false;
    std::size_t pos = 0;
    while (pos < head.size()) {
        std::size_t end = head.find('\n', pos);
        if (end == std::string::npos) end = head.size();
        std::string_view line(head.data() + pos, end - pos);
        pos = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty()) break;
        if (line[0] == ' ' || line[0] == '\t') {
            if (inWanted) value += " " + std::string(Trim(line));
            continue;
        }
        if (found) break; // the first such header decides
        const std::size_t colon = line.find(':');
        inWanted =
            colon != std::string_view::npos && Lowered(Trim(line.substr(0, colon))) == wanted;
        if (inWanted) {
            value = std::string(Trim(line.substr(colon + 1)));
            found = true;
        }
    }
    if (!found) return KindSms;
    const std::string v(Trim(value));
    for (const std::string& fax : kinds.faxValues)
        if (SameName(v, fax)) return KindFax;
    for (const std::string& voice : kinds.voiceValues)
        if (SameName(v, voice)) return KindVoice;
    return KindSms;
}

} // namespace vantorq9
