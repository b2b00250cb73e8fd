#pragma once
// File names as the gateway holds them, and the file system's paths.
//
// The gateway keeps every text in 8-bit Windows-1250, file names included
// (the settings, the program's folder).  On Linux a path is bytes, and a name
// is used as it stands.  Windows names files in UTF-16, so there a name is
// converted on its way to the file system and back.  std::filesystem::path's
// own conversion of a narrow string cannot be used for that: on Windows it
// reads the bytes as Latin-1 and gives them back as UTF-8.
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace vantor {

// The path a file name of the gateway's stands for.
std::filesystem::path FilePath(std::string_view name);
// A path as the gateway's text (Windows-1250 on Windows; characters it has
// no code for become '?').
std::string FilePathText(const std::filesystem::path& path);
// The same for names in UTF-8, as the directory chooser speaks them (on
// Windows: characters that UTF-8 cannot hold in a path become U+FFFD).
std::filesystem::path Utf8Path(std::string_view utf8);
std::string Utf8PathText(const std::filesystem::path& path);
// std::fopen for a path (through the C library's UTF-16 open on Windows).
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

} // namespace vantor
