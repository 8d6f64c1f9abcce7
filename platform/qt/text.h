#pragma once

#include <QString>

#include <string>
#include <string_view>

// The widget edge: the only place where the Windows-1252 bytes of the data files become QString
// and back. Every byte survives the round trip.
namespace velmo {

QString toQString(std::string_view cp1252);
std::string fromQString(const QString& text);

// Local file names and error messages are UTF-8.
inline QString fromUtf8(const std::string& s) {
    return QString::fromStdString(s);
}
inline std::string toUtf8(const QString& s) {
    return s.toStdString();
}

} // namespace velmo
