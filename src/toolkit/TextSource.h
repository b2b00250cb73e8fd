#pragma once
// Numbered texts of the current language: Msg(n) from the cached "Texty"
// section, Text(n) read on demand from the "Text" section.  A missing text
// is empty.
#include <string>

namespace vantor {

class TextSource {
public:
    virtual ~TextSource() = default;
    virtual std::string Msg(int number) const = 0;
    virtual std::string Text(int number) = 0;
};

} // namespace vantor
