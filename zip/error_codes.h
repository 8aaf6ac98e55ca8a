// Engine result codes. Public operations answer them; deep steps raise them as
// an EngineFault that the public operation catches.
#ifndef PAKKARO_ZIP_ERROR_CODES_H
#define PAKKARO_ZIP_ERROR_CODES_H

namespace korbel {

enum ErrorCode : int {
  kBadIndexOrMode = -1,  // bad entry index, or wrong open state
  kOk = 0,
  kEndOfData = 2,  // the data ended early
  kBadFormat = 3,  // the archive structure is not valid
  kNoMemory = 4,
  kInternalError = 5,  // the open state is corrupt
  kReadError = 11,     // a read failed or came back short
  kNotFound = 12,      // resource or memory source missing
  kEmptyName = 13,
  kWriteError = 14,
  kCreateError = 15,  // the archive file cannot be created
  kOpenError = 18,    // the archive file cannot be opened
  kSpanned = 19,      // the archive spans several disks
  kBadPath = 20,
  kCrcError = 21,
  kDecompressError = 22,
  kUserAbort = 23,
  kFileOpenError = 24,  // a named file cannot be opened
  kFileCreateError = 25,
  kFileWriteError = 26,
  kFileReadError = 27,
  kSkipped = 28,
  kUnsupported = 29,
  kUnsupportedVersion = 30,
  kCompressError = 31,
  kWrongPassword = 32,
  kNotOpen = 33,
  kWrongMode = 34,
  kFileExists = 35,
  kFileOlder = 36,
  kNoSpace = 37,
};

// What a deep step throws; the public operation turns it back into its code.
struct EngineFault {
  int code;
};

[[noreturn]] inline void RaiseError(int code) { throw EngineFault{code}; }

}  // namespace korbel

#endif  // PAKKARO_ZIP_ERROR_CODES_H
