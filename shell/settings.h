#pragma once

#include <QString>

#include <string>

namespace velmo {

// The settings of the shop, held by the Shop of one run. Directories are held without a trailing separator.
struct TShopSettings {
    QString Currency;  // currency label of the order window and the invoice
    QString localProg; // program directory
    QString localDat;  // data directory: catalog index, article, order and picture list files
    QString localBg;   // large pictures
    QString localBk;   // small pictures
    QString docRoot;   // the shop's document root on the server, ending in "/"
    QString ftpHome;   // the server directory after login; never stored
};

// Names of the values in the settings store.
namespace settingnames {
inline constexpr const char* Currency = "Currency";
inline constexpr const char* localProg = "localProg";
inline constexpr const char* localDat = "localDat";
inline constexpr const char* localBg = "localBg";
inline constexpr const char* localBk = "localBk";
inline constexpr const char* docRoot = "docRoot";
} // namespace settingnames

// directory + separator + file name, as a local file path. Everything is UTF-8; a name taken
// from a data file (Windows-1252) goes through cp1252::toUtf8 first. Throws velmo::Exception, naming
// the file, when the directory is empty (not set).
std::string localPath(const QString& directory, const std::string& fileName);

} // namespace velmo
