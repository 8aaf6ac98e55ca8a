// Extensions of files whose data is compressed already: they are stored.
#ifndef PAKKARO_ZIP_STORED_EXTENSIONS_H
#define PAKKARO_ZIP_STORED_EXTENSIONS_H

namespace korbel {

inline constexpr const char* kStoredExtensions = "zip;zoo;arc;lzh;arj;gz;cab;bz2;tgz;rar;rpm;gzip;7z;k";

// Whether the extension of the last component of `name` is in the list.
bool IsStoredExtension(const char* name);

}  // namespace korbel

#endif  // PAKKARO_ZIP_STORED_EXTENSIONS_H
