#include "platform/qt/text.h"

#include "platform/cp1252.h"

namespace velmo {

QString toQString(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (unsigned char b : bytes)
        out.append(QChar(static_cast<char16_t>(cp1252::toUnicode(b))));
    return out;
}

std::string fromQString(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (QChar c : text)
        out += cp1252::fromUnicode(c.unicode());
    return out;
}

} // namespace velmo
