// The two fixed exclusion lists of a packing run: build products, caches and
// other generated or bulky files, matched against file names.
#ifndef PAKKARO_FS_EXCLUSION_LISTS_H
#define PAKKARO_FS_EXCLUSION_LISTS_H

namespace fs {

// For every project except µVision projects (97 patterns, duplicates kept).
extern const char* const kGeneralExclusions;

// For µVision projects: the general list without its last pattern ";*.lib",
// so that their libraries go into the archive (96 patterns).
extern const char* const kMicroVisionExclusions;

}  // namespace fs

#endif  // PAKKARO_FS_EXCLUSION_LISTS_H
