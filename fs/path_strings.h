// Splitting and rebuilding path texts in caller-owned buffers: name part,
// folder part, extension, trailing separator, and the bounded copies that
// fill every fixed buffer of the program.
//
// Lengths are character counts without the terminator (a negative length
// means: measure the text); capacities count the terminator. Every function
// exists for char (ANSI code page) and platform::WideChar (UTF-16).
#ifndef PAKKARO_FS_PATH_STRINGS_H
#define PAKKARO_FS_PATH_STRINGS_H

namespace fs {

// The last component of the path: what follows the last '\', '/' or ':'
// (the whole text when there is none). A null path gives an empty text.
template <typename Char>
const Char* GetNamePart(int length, const Char* path, int* outLength = nullptr);

// Copies the name part into target; 0 and an empty target when it does not
// fit the capacity.
template <typename Char>
int CopyNamePart(Char* target, int length, const Char* path, int capacity);

// Cuts the path back to its folder, in place; returns the new length. A
// separator that follows a drive colon or another separator stays (C:\a.dsp
// becomes C:\), a path without separator becomes empty.
template <typename Char>
int CutToFolder(int length, Char* path);

// Appends '\' unless the path already ends in '\' or '/'; the caller leaves
// room for two more characters.
template <typename Char>
int AppendSeparator(Char* path, int length = -1);

// Removes one trailing '\' or '/'.
template <typename Char>
void StripSeparator(Char* path, int length = -1);

// The extension behind the last dot of the name; points at the terminator
// (length 0) when there is none. A dot that begins a component starts no
// extension; ':' does not end the search.
template <typename Char>
const Char* FindExtension(int length, const Char* path, int* outLength = nullptr);

// Writes source with its extension replaced ("*.zip", ".zip" and "zip" alike;
// an empty one removes the extension) into target, which may be source.
template <typename Char>
int ReplaceExtension(int length, Char* target, const Char* source, const Char* extension, int capacity);

// Target '/' or 0 turns every '\' into '/', any other target every '/' into
// '\'. Returns the length of the path.
template <typename Char>
int ConvertSeparators(Char* path, Char target);

// Copies at most capacity - 1 characters and always terminates; returns the
// number copied. A capacity of 0 or less writes nothing.
template <typename Char>
int CopyBounded(Char* target, const Char* source, int capacity);

// Appends within the capacity; returns the resulting length, or the capacity
// (writing nothing) when target has no terminator inside it.
template <typename Char>
int AppendBounded(Char* target, const Char* source, int capacity);

}  // namespace fs

#endif  // PAKKARO_FS_PATH_STRINGS_H
