#pragma once
// Conversions between the gateway's model and Qt: texts are 8-bit
// Windows-1250 in the model and Unicode on the screen; colours are
// 0x00BBGGRR with a few system colours; fonts are given in pixels.
#include <QColor>
#include <QFont>
#include <QString>
#include <string>
#include <string_view>

#include "toolkit/Controls.h"

namespace vantor::desktop {

QString ToQt(std::string_view cp1250);
// Characters without a Windows-1250 code become '?'.
std::string FromQt(const QString& text);
// A caption with '&' mnemonics as a plain text ("&&" stays one '&').
QString WithoutMnemonic(const QString& caption);
// The "short|long" hint of a menu item or control: the part before the bar,
// or after it; a hint without a bar is both.
QString ShortHint(std::string_view hint);
QString LongHint(std::string_view hint);

// A model colour as Qt shows it; system colours resolve through the palette.
QColor ToQColor(TColor color);
// The model's font over the view's default: an empty name or a height of 0
// keeps the default's.  Fixed-pitch names ask for a fixed-pitch fallback.
QFont ToQFont(const TFont& font, const QFont& base);

} // namespace vantor::desktop
