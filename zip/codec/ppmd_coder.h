// PPMd variant I revision 1 streams as zip method 98 stores them (after its 2-byte
// header): whole-stream encoding and decoding through read and write callbacks.
#ifndef PAKKARO_ZIP_CODEC_PPMD_CODER_H
#define PAKKARO_ZIP_CODEC_PPMD_CODER_H

#include <memory>

namespace korbel {

class PpmdModel;

// Model memory kept from one run to the next, so that a series of small entries does
// not set up (and clear) megabytes of model for each one. A run that finds memory of
// the size it needs starts its model afresh in it; runs sharing one must not overlap.
class PpmdWorkspace {
 public:
  PpmdWorkspace();
  ~PpmdWorkspace();
  PpmdWorkspace(const PpmdWorkspace&) = delete;
  PpmdWorkspace& operator=(const PpmdWorkspace&) = delete;

  void Release();
  std::unique_ptr<PpmdModel>& Model() { return model_; }

 private:
  std::unique_ptr<PpmdModel> model_;
};

// Pulls input: returns bytes read (0 = end), negative on failure.
using PpmdRead = long (*)(void* context, unsigned char* buffer, unsigned long size);
// Pushes output: returns bytes taken; fewer than size, or negative, is a failure.
using PpmdWrite = long (*)(void* context, const unsigned char* buffer, unsigned long size);

enum class PpmdResult { kOk, kReadFailed, kWriteFailed, kNoMemory, kFormatError, kInternalError };

// Model parameters of a PPMd variant I revision 1 stream (zip method 98).
struct PpmdParameters {
  int order;           // 2..16: longest context the model keeps
  unsigned memoryMiB;  // 1..256: model memory
  int restoreMethod;   // 0 restart the model when memory runs out, 1 cut it back, 2 freeze it
};

// The 2-byte header of a zip method 98 entry, little-endian on disk: bits 0-3 order - 1,
// bits 4-11 memory in MiB - 1, bits 12-15 restore method.
unsigned short PpmdHeader(const PpmdParameters& parameters);
// False (and *parameters untouched) for an order below 2 or a restore method above 2.
bool PpmdParseHeader(unsigned short header, PpmdParameters* parameters);

// Encodes everything the reader delivers, then the end mark and the coder flush;
// buffers of 8192 bytes. Parameters out of range give kInternalError.
// Without a workspace the run sets up a model of its own.
PpmdResult PpmdEncode(const PpmdParameters& parameters, PpmdRead read, void* in, PpmdWrite write, void* out,
                      unsigned long long* bytesIn, unsigned long long* bytesOut,
                      PpmdWorkspace* workspace = nullptr);

// Decodes until the end mark (or until `limit` output bytes when limit >= 0; limit 0
// reads nothing); buffers of 64 KiB. A stream that needs bytes past the end of input, or codes something the
// model cannot hold, gives kFormatError; parameters out of range too. *bytesIn counts the bytes the decoder
// used, which may be fewer than it read ahead.
PpmdResult PpmdDecode(const PpmdParameters& parameters, long long limit, PpmdRead read, void* in,
                      PpmdWrite write, void* out, unsigned long long* bytesIn, unsigned long long* bytesOut,
                      PpmdWorkspace* workspace = nullptr);

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_PPMD_CODER_H
