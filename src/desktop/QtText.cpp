#include "desktop/QtText.h"

#include <QApplication>
#include <QPalette>

#include "toolkit/Cp1250.h"

namespace vantor::desktop {

QString ToQt(std::string_view cp1250) { return QString::fromStdString(Utf8FromCp1250(cp1250)); }

std::string FromQt(const QString& text) { return Cp1250FromUtf8(text.toStdString()); }

QString WithoutMnemonic(const QString& caption) {
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&') {
                out += u'&';
                ++i;
            }
            continue;
        }
        out += caption[i];
    }
    return out;
}

QString ShortHint(std::string_view hint) {
    const auto bar = hint.find('|');
    return ToQt(bar == std::string_view::npos ? hint : hint.substr(0, bar));
}

QString LongHint(std::string_view hint) {
    const auto bar = hint.find('|');
    return ToQt(bar == std::string_view::npos ? hint : hint.substr(bar + 1));
}

QColor ToQColor(TColor color) {
    if (IsSystemColor(color)) {
        const QPalette palette = QApplication::palette();
        switch (color) {
        case clWindowText: return palette.color(QPalette::WindowText);
        case clWindow: return palette.color(QPalette::Base);
        case clBtnFace:
        default: return palette.color(QPalette::Window);
        }
    }
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

QFont ToQFont(const TFont& font, const QFont& base) {
    QFont f = base;
    if (!font.Name.empty()) {
        const QString family = QString::fromStdString(font.Name);
        f.setFamily(family);
        if (family.contains(u"Courier", Qt::CaseInsensitive) ||
            family.contains(u"Mono", Qt::CaseInsensitive))
            f.setStyleHint(QFont::TypeWriter);
    }
    if (font.Height > 0) f.setPixelSize(font.Height);
    f.setBold(font.Bold);
    f.setItalic(font.Italic);
    return f;
}

} // namespace vantor::desktop
