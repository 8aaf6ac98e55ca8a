#include "zip/codec/ppmd_coder.h"

#include <memory>
#include <new>
#include <vector>

#include "zip/codec/ppmd_model.h"
#include "zip/codec/ppmd_range_coder.h"

namespace korbel {

namespace {

constexpr unsigned long kEncodeBufferSize = 8192;
constexpr unsigned long kDecodeBufferSize = 64 * 1024;

bool ValidParameters(const PpmdParameters& parameters) {
  return parameters.order >= 2 && parameters.order <= 16 && parameters.memoryMiB >= 1 &&
         parameters.memoryMiB <= 256 && parameters.restoreMethod >= 0 && parameters.restoreMethod <= 2;
}

// Sets up a fresh model for a run in `workspace`, else in `own`, which then takes the
// model memory away with it.
PpmdResult MakeModel(const PpmdParameters& parameters, PpmdWorkspace* workspace,
                     std::unique_ptr<PpmdModel>* own, PpmdModel** model) {
  std::unique_ptr<PpmdModel>& holder = workspace ? workspace->Model() : *own;
  if (!holder) holder.reset(new (std::nothrow) PpmdModel);
  if (!holder || !holder->Allocate(parameters.memoryMiB << 20)) {
    holder.reset();
    return PpmdResult::kNoMemory;
  }
  holder->Init(parameters.order, parameters.restoreMethod);
  *model = holder.get();
  return PpmdResult::kOk;
}

void Report(unsigned long long* target, unsigned long long value) {
  if (target) *target = value;
}

PpmdResult EncodeAll(const PpmdParameters& parameters, PpmdRead read, void* in, PpmdWrite write, void* out,
                     unsigned long long* bytesIn, unsigned long long* bytesOut, PpmdWorkspace* workspace) {
  std::unique_ptr<PpmdModel> own;
  PpmdModel* model = nullptr;
  const PpmdResult made = MakeModel(parameters, workspace, &own, &model);
  if (made != PpmdResult::kOk) return made;
  PpmdRangeEncoder coder(write, out, kEncodeBufferSize);
  std::vector<unsigned char> buffer(kEncodeBufferSize);
  unsigned long long total = 0;
  PpmdResult result = PpmdResult::kOk;
  for (;;) {
    const long got = read(in, buffer.data(), kEncodeBufferSize);
    if (got < 0) {
      result = PpmdResult::kReadFailed;
      break;
    }
    if (got == 0) break;
    const unsigned long n = static_cast<unsigned long>(got) < kEncodeBufferSize
                                ? static_cast<unsigned long>(got)
                                : kEncodeBufferSize;
    for (unsigned long i = 0; i < n; ++i) model->EncodeSymbol(coder, buffer[i]);
    total += n;
    if (coder.Failed()) break;
    if (coder.Broken()) {
      result = PpmdResult::kInternalError;
      break;
    }
  }
  if (result == PpmdResult::kOk && !coder.Failed()) {
    model->EncodeSymbol(coder, -1);
    coder.Finish();
  }
  if (result == PpmdResult::kOk && coder.Failed()) result = PpmdResult::kWriteFailed;
  if (result == PpmdResult::kOk && coder.Broken()) result = PpmdResult::kInternalError;
  Report(bytesIn, total);
  Report(bytesOut, coder.BytesWritten());
  return result;
}

PpmdResult DecodeAll(const PpmdParameters& parameters, long long limit, PpmdRead read, void* in,
                     PpmdWrite write, void* out, unsigned long long* bytesIn, unsigned long long* bytesOut,
                     PpmdWorkspace* workspace) {
  if (limit == 0) return PpmdResult::kOk;
  std::unique_ptr<PpmdModel> own;
  PpmdModel* model = nullptr;
  const PpmdResult made = MakeModel(parameters, workspace, &own, &model);
  if (made != PpmdResult::kOk) return made;
  PpmdRangeDecoder coder(read, in, kDecodeBufferSize);
  std::vector<unsigned char> buffer(kDecodeBufferSize);
  unsigned long long written = 0;
  unsigned long pos = 0;
  PpmdResult result = PpmdResult::kOk;

  auto flush = [&]() {
    if (pos == 0) return true;
    const long taken = write(out, buffer.data(), pos);
    if (taken < 0 || static_cast<unsigned long>(taken) < pos) return false;
    written += pos;
    pos = 0;
    return true;
  };

  if (!coder.Init()) {
    result = coder.ReadFailed() ? PpmdResult::kReadFailed : PpmdResult::kFormatError;
  } else {
    const unsigned long long wanted = limit < 0 ? ~0ULL : static_cast<unsigned long long>(limit);
    for (unsigned long long produced = 0; produced < wanted; ++produced) {
      const int symbol = model->DecodeSymbol(coder);
      if (coder.ReadFailed()) {
        result = PpmdResult::kReadFailed;
        break;
      }
      if (coder.Broken() || symbol < -1) {
        result = PpmdResult::kFormatError;
        break;
      }
      if (symbol < 0) break;  // end mark
      buffer[pos++] = static_cast<unsigned char>(symbol);
      if (pos == kDecodeBufferSize && !flush()) {
        result = PpmdResult::kWriteFailed;
        break;
      }
    }
  }
  if (result != PpmdResult::kWriteFailed && !flush() && result == PpmdResult::kOk) {
    result = PpmdResult::kWriteFailed;
  }
  Report(bytesIn, coder.BytesConsumed());
  Report(bytesOut, written);
  return result;
}

}  // namespace

PpmdWorkspace::PpmdWorkspace() = default;
PpmdWorkspace::~PpmdWorkspace() = default;
void PpmdWorkspace::Release() { model_.reset(); }

unsigned short PpmdHeader(const PpmdParameters& parameters) {
  return static_cast<unsigned short>(((parameters.order - 1) & 0xF) |
                                     (((parameters.memoryMiB - 1) & 0xFF) << 4) |
                                     ((parameters.restoreMethod & 0xF) << 12));
}

bool PpmdParseHeader(unsigned short header, PpmdParameters* parameters) {
  const PpmdParameters parsed{(header & 0xF) + 1, ((header >> 4) & 0xFFu) + 1, header >> 12};
  if (parsed.order < 2 || parsed.restoreMethod > 2) return false;
  *parameters = parsed;
  return true;
}

PpmdResult PpmdEncode(const PpmdParameters& parameters, PpmdRead read, void* in, PpmdWrite write, void* out,
                      unsigned long long* bytesIn, unsigned long long* bytesOut, PpmdWorkspace* workspace) {
  Report(bytesIn, 0);
  Report(bytesOut, 0);
  if (!ValidParameters(parameters)) return PpmdResult::kInternalError;
  try {
    return EncodeAll(parameters, read, in, write, out, bytesIn, bytesOut, workspace);
  } catch (const std::bad_alloc&) {
    return PpmdResult::kNoMemory;
  }
}

PpmdResult PpmdDecode(const PpmdParameters& parameters, long long limit, PpmdRead read, void* in,
                      PpmdWrite write, void* out, unsigned long long* bytesIn, unsigned long long* bytesOut,
                      PpmdWorkspace* workspace) {
  Report(bytesIn, 0);
  Report(bytesOut, 0);
  if (!ValidParameters(parameters)) return PpmdResult::kFormatError;
  try {
    return DecodeAll(parameters, limit, read, in, write, out, bytesIn, bytesOut, workspace);
  } catch (const std::bad_alloc&) {
    return PpmdResult::kNoMemory;
  }
}

}  // namespace korbel
