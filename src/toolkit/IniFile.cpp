#include "toolkit/IniFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "toolkit/FilePath.h"
#include "toolkit/Strings.h"

namespace vantor {

namespace fs = std::filesystem;

namespace {
std::string ErrnoText(int err) { return std::strerror(err); }
} // namespace

// ------------------------------------------------------------- IniDocument

IniDocument::Line IniDocument::Classify(std::string text, std::string end) {
    Line line;
    line.text = std::move(text);
    line.end = std::move(end);
    const std::string_view t = TrimView(line.text);
    if (t.empty() || t.front() == ';') return line;
    if (t.front() == '[') {
        // The name runs to the last ']'; a header without one is garbage.
        const std::size_t close = t.rfind(']');
        if (close == std::string_view::npos) return line;
        line.kind = Line::Section;
        line.name = Trim(t.substr(1, close - 1));
        return line;
    }
    const std::size_t eq = line.text.find('=');
    if (eq == std::string::npos) return line;
    std::string name = Trim(std::string_view(line.text).substr(0, eq));
    if (name.empty()) return line;
    line.kind = Line::Key;
    line.name = std::move(name);
    std::size_t b = eq + 1, e = line.text.size();
    auto blank = [&](std::size_t i) { return static_cast<unsigned char>(line.text[i]) <= ' '; };
    while (b < e && blank(b)) ++b;
    while (e > b && blank(e - 1)) --e;
    if (b == e) b = e = eq + 1; // an empty value is written right after '='
    line.valueBegin = b;
    line.valueEnd = e;
    return line;
}

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument doc;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            doc.lines_.push_back(Classify(std::string(text.substr(pos)), ""));
            break;
        }
        std::size_t contentEnd = nl;
        if (contentEnd > pos && text[contentEnd - 1] == '\r') --contentEnd;
        doc.lines_.push_back(Classify(std::string(text.substr(pos, contentEnd - pos)),
                                      std::string(text.substr(contentEnd, nl + 1 - contentEnd))));
        pos = nl + 1;
    }
    doc.Reindex();
    return doc;
}

void IniDocument::Reindex() {
    sections_.clear();
    SectionIndex* current = nullptr; // the section being indexed; null in a repeat
    auto close = [&](std::size_t end) {
        if (current) current->end = end;
    };
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& l = lines_[i];
        if (l.kind == Line::Section) {
            close(i);
            auto [it, fresh] = sections_.try_emplace(UpperCase(l.name));
            // A later section of the same name is ignored, as profile reads
            // ignore it: only the first one is indexed.
            current = fresh ? &it->second : nullptr;
            if (current) current->header = i;
        } else if (l.kind == Line::Key && current) {
            if (current->keys.try_emplace(UpperCase(l.name), i).second)
                current->keyLines.push_back(i);
        }
    }
    close(lines_.size());
}

const IniDocument::SectionIndex* IniDocument::FindSection(std::string_view section) const {
    const auto it = sections_.find(UpperCase(TrimView(section)));
    return it == sections_.end() ? nullptr : &it->second;
}

std::optional<std::size_t> IniDocument::FindKey(const SectionIndex& s, std::string_view key) const {
    const auto it = s.keys.find(UpperCase(TrimView(key)));
    if (it == s.keys.end()) return std::nullopt;
    return it->second;
}

bool IniDocument::HasSection(std::string_view section) const {
    return FindSection(section) != nullptr;
}

namespace {
// A value in matching double or single quotes loses them, as profile reads
// do: that is how a value keeps a blank at its end ("text ").
std::string Unquoted(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}
} // namespace

std::string IniDocument::ValueOf(std::size_t line) const {
    const Line& l = lines_[line];
    return Unquoted(l.text.substr(l.valueBegin, l.valueEnd - l.valueBegin));
}

std::optional<std::string> IniDocument::Value(std::string_view section,
                                              std::string_view key) const {
    const SectionIndex* s = FindSection(section);
    if (!s) return std::nullopt;
    const auto line = FindKey(*s, key);
    if (!line) return std::nullopt;
    return ValueOf(*line);
}

std::vector<std::pair<std::string, std::string>>
IniDocument::Values(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> out;
    const SectionIndex* s = FindSection(section);
    if (!s) return out;
    out.reserve(s->keyLines.size());
    for (std::size_t line : s->keyLines) out.emplace_back(lines_[line].name, ValueOf(line));
    return out;
}

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
    std::vector<std::string> out;
    const SectionIndex* s = FindSection(section);
    if (!s) return out;
    out.reserve(s->keyLines.size());
    for (std::size_t line : s->keyLines) out.push_back(lines_[line].name);
    return out;
}

std::string IniDocument::NewLineEnd() const {
    for (const Line& l : lines_)
        if (!l.end.empty()) return l.end == "\n" ? "\n" : "\r\n";
    return "\r\n";
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view sec = TrimView(section);
    const std::string_view k = TrimView(key);
    const std::string eol = NewLineEnd();
    if (const SectionIndex* s = FindSection(sec)) {
        if (const auto line = FindKey(*s, k)) {
            Line& l = lines_[*line];
            l.text.replace(l.valueBegin, l.valueEnd - l.valueBegin, value);
            l.valueEnd = l.valueBegin + value.size();
            return; // names and positions are unchanged: the index holds
        }
        // After the section's last key line (of any name, repeats included),
        // or right after its header when it has none.
        std::size_t lastKey = s->header;
        for (std::size_t i = s->header + 1; i < s->end; ++i)
            if (lines_[i].kind == Line::Key) lastKey = i;
        if (lines_[lastKey].end.empty()) lines_[lastKey].end = eol;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastKey + 1),
                      Classify(std::string(k) + "=" + std::string(value), eol));
        Reindex();
        return;
    }
    if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = eol;
    lines_.push_back(Classify("[" + std::string(sec) + "]", eol));
    lines_.push_back(Classify(std::string(k) + "=" + std::string(value), eol));
    Reindex();
}

std::string IniDocument::Serialize() const {
    std::string out;
    for (const Line& l : lines_) {
        out += l.text;
        out += l.end;
    }
    return out;
}

// ---------------------------------------------------------------- IniReader

std::string IniReader::ReadString(std::string_view section, std::string_view key,
                                  std::string_view def) const {
    if (auto v = Value(section, key)) return *v;
    return std::string(def);
}

std::int32_t IniReader::ReadInteger(std::string_view section, std::string_view key,
                                    std::int32_t def) const {
    const auto v = Value(section, key);
    if (!v) return def;
    return ParseInt32(*v).value_or(def);
}

bool IniReader::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::vector<std::string> IniReader::ReadSection(std::string_view section) const {
    std::vector<std::string> out;
    for (auto& [name, value] : Values(section)) out.push_back(std::move(name));
    return out;
}

// ------------------------------------------------------------ reading files

ProfileFileText ReadProfileFile(const std::string& path, std::size_t limit) {
    std::error_code ec;
    const fs::path file = FilePath(path);
    const fs::file_status st = fs::status(file, ec);
    if (ec || !fs::exists(st)) return {};
    if (!fs::is_regular_file(st)) return {std::nullopt, path + " is not a regular file"};
    // Read one byte past the limit: the size on disk may change under us, and
    // what counts is what was read.
    std::ifstream in(file, std::ios::binary);
    if (!in) return {std::nullopt, path + " cannot be read (" + ErrnoText(errno) + ")"};
    std::string text;
    char chunk[65536];
    while (text.size() <= limit) {
        in.read(chunk, sizeof chunk);
        const std::streamsize got = in.gcount();
        if (got > 0) text.append(chunk, static_cast<std::size_t>(got));
        if (!in) break;
    }
    if (in.bad()) return {std::nullopt, path + " cannot be read (reading it failed)"};
    if (text.size() > limit) {
        const std::string most = limit % (1024 * 1024) == 0
                                     ? std::to_string(limit / (1024 * 1024)) + " MiB"
                                     : std::to_string(limit) + " bytes";
        return {std::nullopt, path + " is larger than " + most +
                                  ", far more than any profile file needs; it is not used"};
    }
    return {std::move(text), {}};
}

// ---------------------------------------------------------------- TIniFile

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
    throw EIniFileError("Cannot write the profile file " + path + ": " + reason);
}

// The text a write starts from; nullopt when the file does not exist.
// Throws when it exists but cannot be used, so that a write never replaces
// what it could not see (or a file too large to be a profile).
std::optional<std::string> ReadForWrite(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return std::nullopt;
    if (fs::is_directory(path, ec)) Fail(FilePathText(path), "it is a directory");
    ProfileFileText read = ReadProfileFile(FilePathText(path));
    if (!read.text) Fail(FilePathText(path), read.refusal);
    return std::move(read.text);
}

// The file a write must change: a symbolic link is followed to its target
// (also when the target does not exist yet).
fs::path WriteTarget(const fs::path& path) {
    fs::path p = path;
    std::error_code ec;
    for (int depth = 0; depth < 40 && fs::is_symlink(p, ec); ++depth) {
        fs::path link = fs::read_symlink(p, ec);
        if (ec) break;
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    return p;
}

bool WriteAll(std::FILE* f, std::string_view bytes) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        return false;
    return std::fflush(f) == 0;
}

// Rewrites the file itself: the fallback when no temporary file can be made.
void RewriteInPlace(const fs::path& target, std::string_view bytes,
                    const std::optional<std::string>& old) {
    std::FILE* f = OpenFile(target, "wb");
    if (!f) Fail(FilePathText(target), ErrnoText(errno));
    const bool ok = WriteAll(f, bytes);
    const int err = errno;
    const bool closed = std::fclose(f) == 0;
    if (ok && closed) return;
    // Put the old contents back as well as we can.
    if (old) {
        if (std::FILE* r = OpenFile(target, "wb")) {
            WriteAll(r, *old);
            std::fclose(r);
        }
    }
    Fail(FilePathText(target), ErrnoText(err ? err : EIO));
}

fs::path TempName(const fs::path& target) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    const std::uint64_t r = rng();
    fs::path name(".");
    name += target.filename();
    name += ".tmp" + IntToHex(static_cast<std::int64_t>(r >> 33), 8);
    return name;
}

void ReplaceFile(const fs::path& target, std::string_view bytes,
                 const std::optional<std::string>& old) {
    if (old) {
        // An existing file we may not write stays untouched, even where the
        // directory would let us replace it.
        std::FILE* probe = OpenFile(target, "ab");
        if (!probe) Fail(FilePathText(target), ErrnoText(errno));
        std::fclose(probe);
    }
    const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    fs::path tmp;
    std::FILE* f = nullptr;
    for (int attempt = 0; attempt < 8 && !f; ++attempt) {
        tmp = dir / TempName(target);
        f = OpenFile(tmp, "wbx"); // never reuses an existing name
        if (!f && errno != EEXIST) break;
    }
    if (!f) {
        RewriteInPlace(target, bytes, old);
        return;
    }
    const bool ok = WriteAll(f, bytes);
    const int err = errno;
    const bool closed = std::fclose(f) == 0;
    std::error_code ec;
    if (!ok || !closed) {
        fs::remove(tmp, ec);
        Fail(FilePathText(target),
             "writing the temporary file failed (" + ErrnoText(err ? err : EIO) + ")");
    }
    if (old) {
        const fs::file_status st = fs::status(target, ec);
        if (!ec) fs::permissions(tmp, st.permissions(), fs::perm_options::replace, ec);
    }
    fs::rename(tmp, target, ec);
    if (ec) {
        fs::remove(tmp, ec);
        RewriteInPlace(target, bytes, old);
    }
}

} // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

bool TIniFile::Exists() const {
    std::error_code ec;
    return fs::is_regular_file(FilePath(path_), ec);
}

IniSnapshot TIniFile::Snapshot() const {
    ProfileFileText read = ReadProfileFile(path_);
    IniSnapshot snapshot;
    if (read.text) snapshot.document = IniDocument::Parse(*read.text);
    snapshot.refusal = std::move(read.refusal);
    return snapshot;
}

IniDocument TIniFile::Load() const { return Snapshot().document; }

std::optional<std::string> TIniFile::Value(std::string_view section, std::string_view key) const {
    return Load().Value(section, key);
}

std::vector<std::pair<std::string, std::string>> TIniFile::Values(std::string_view section) const {
    return Load().Values(section);
}

bool TIniFile::HasSection(std::string_view section) const { return Load().HasSection(section); }

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    // Names and values that would change the file's structure are refused
    // rather than written: they would read back as something else.
    auto hasBreak = [](std::string_view s) {
        return s.find_first_of("\r\n") != std::string_view::npos;
    };
    const std::string_view sec = TrimView(section), k = TrimView(key);
    if (sec.empty() || hasBreak(sec) || sec.find(']') != std::string_view::npos)
        Fail(path_, "invalid section name \"" + std::string(section) + "\"");
    if (k.empty() || hasBreak(k) || k.find('=') != std::string_view::npos || k.front() == '[' ||
        k.front() == ';')
        Fail(path_, "invalid key name \"" + std::string(key) + "\"");
    if (hasBreak(value)) Fail(path_, "the value of " + std::string(k) + " holds a line break");

    // Reading trims blanks and control characters at both ends and takes off
    // matching quotes; a value that would lose something that way is written
    // in quotes, so that it reads back exactly (a password with a trailing
    // blank, a message ending in a blank, a value that is itself quoted).
    std::string stored(value);
    if (Unquoted(Trim(value)) != value) stored = '"' + stored + '"';

    const fs::path target = WriteTarget(FilePath(path_));
    const std::optional<std::string> old = ReadForWrite(target);
    IniDocument doc = old ? IniDocument::Parse(*old) : IniDocument{};
    doc.Set(sec, k, stored);
    const std::string bytes = doc.Serialize();
    if (old && *old == bytes) return; // nothing changes: leave the file alone
    ReplaceFile(target, bytes, old);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

} // namespace vantor
