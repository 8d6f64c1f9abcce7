#pragma once

#include "platform/linefile.h"

#include <string>

// The pending picture lists piclst.db and thumblst.db: one bare file name per line.
namespace velmo::datafiles {

inline constexpr const char* kPictureListFile = "piclst.db";
inline constexpr const char* kThumbListFile = "thumblst.db";

// A missing file gives an empty list and no error; one that exists but cannot be read throws
// EFOpenError.
Lines loadPictureList(const std::string& path);
// Created or replaced; an empty list gives an empty file. Throws EFCreateError.
void savePictureList(const std::string& path, const Lines& names);

} // namespace velmo::datafiles
