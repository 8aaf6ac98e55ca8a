#include "fs/console.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "fs/char_rules.h"

namespace fs {
namespace {

// The UTF-16 units go out as they lie in memory.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "wide output assumes little endian");

platform::Handle g_output = platform::kInvalidHandle;

platform::Handle Output() {
  if (g_output == platform::kInvalidHandle) g_output = platform::StandardOutput();
  return g_output;
}

// Hands the formatted text to the platform in pieces: collected output goes
// on once 1124 units are pending; a long literal run, and the text of a %s
// argument, go on by themselves right after what is pending. The buffer
// lives with the call, so printing needs no heap memory.
template <typename Char>
class PieceWriter {
 public:
  explicit PieceWriter(platform::Handle handle) : handle_(handle) {}

  void Literal(const Char* text, std::size_t count) {
    if (count > kLongRun || count > kPendingMax - pending_) {
      Flush();
      Write(text, count);
      return;
    }
    for (std::size_t i = 0; i < count; ++i) buffer_[pending_++] = text[i];
    if (pending_ >= kFlushAt) Flush();
  }

  void Argument(const Char* text, std::size_t count) {
    Flush();
    Write(text, count);
  }

  int Finish() {
    Flush();
    return written_;
  }

 private:
  static constexpr std::size_t kFlushAt = 1124;
  static constexpr std::size_t kPendingMax = 2248;
  static constexpr std::size_t kLongRun = 128;

  void Flush() {
    Write(buffer_, pending_);
    pending_ = 0;
  }

  void Write(const Char* text, std::size_t count) {
    if (count == 0) return;
    const std::int64_t bytes = platform::WriteFile(handle_, text, count * sizeof(Char));
    if (bytes > 0) written_ += static_cast<int>(bytes / static_cast<std::int64_t>(sizeof(Char)));
  }

  platform::Handle handle_;
  Char buffer_[kPendingMax];
  std::size_t pending_ = 0;
  int written_ = 0;
};

// One conversion of the format, such as "%-08.3lld".
struct Conversion {
  char flags[6] = {};
  int flagCount = 0;
  bool leftAlign = false;
  int width = -1;       // -1: none
  int precision = -1;   // -1: none
  char length[3] = {};  // "", "h", "hh", "l", "ll", "j", "z", "t", "L"
  unsigned kind = 0;    // the conversion character
};

// Width and precision are clamped so that every conversion fits its buffer.
constexpr int kLargestField = 480;
constexpr std::size_t kNumberBuffer = 1024;

template <typename Char>
int ReadCount(const Char*& p) {
  int value = 0;
  for (; *p >= Char('0') && *p <= Char('9'); ++p) {
    if (value <= kLargestField) value = value * 10 + static_cast<int>(*p - Char('0'));
  }
  return value > kLargestField ? kLargestField : value;
}

template <typename Char>
void ParseConversion(const Char*& p, std::va_list* args, Conversion* c) {
  for (;; ++p) {
    const Char flag = *p;
    if (flag != Char('-') && flag != Char('+') && flag != Char(' ') && flag != Char('#') &&
        flag != Char('0')) {
      break;
    }
    if (flag == Char('-')) c->leftAlign = true;
    if (c->flagCount < 5) c->flags[c->flagCount++] = static_cast<char>(flag);
  }
  if (*p == Char('*')) {
    ++p;
    const int width = va_arg(*args, int);
    if (width < 0) {  // a negative width argument means left alignment
      c->leftAlign = true;
      if (c->flagCount < 5) c->flags[c->flagCount++] = '-';
    }
    c->width = width < -kLargestField || width > kLargestField ? kLargestField : width < 0 ? -width : width;
  } else if (*p >= Char('0') && *p <= Char('9')) {
    c->width = ReadCount(p);
  }
  if (*p == Char('.')) {
    ++p;
    if (*p == Char('*')) {
      ++p;
      const int precision = va_arg(*args, int);  // negative: as if none
      c->precision = precision < 0 ? -1 : precision > kLargestField ? kLargestField : precision;
    } else {
      c->precision = ReadCount(p);
    }
  }
  int used = 0;
  while (used < 2 && (*p == Char('h') || *p == Char('l') || *p == Char('j') || *p == Char('z') ||
                      *p == Char('t') || *p == Char('L'))) {
    c->length[used++] = static_cast<char>(*p++);
  }
  c->kind = CodeOf(*p);
  if (*p) ++p;
}

// Formats one number through the C library (digits are ASCII in both forms),
// the value passed as the widest type of its family with that length.
template <typename Value>
int FormatNumber(const Conversion& c, const char* length, Value value, char* out) {
  char directive[32];
  int used = 0;
  directive[used++] = '%';
  for (int i = 0; i < c.flagCount; ++i) directive[used++] = c.flags[i];
  if (c.width >= 0) used += std::snprintf(directive + used, 8, "%d", c.width);
  if (c.precision >= 0) used += std::snprintf(directive + used, 8, ".%d", c.precision);
  for (const char* p = length; *p; ++p) directive[used++] = *p;
  directive[used++] = static_cast<char>(c.kind);
  directive[used] = 0;
  const int written = std::snprintf(out, kNumberBuffer, directive, value);
  if (written < 0) return 0;
  return written < static_cast<int>(kNumberBuffer) ? written : static_cast<int>(kNumberBuffer) - 1;
}

template <typename Char>
void Pad(PieceWriter<Char>& writer, std::size_t count, std::size_t width) {
  const Char space = Char(' ');
  for (; count < width; ++count) writer.Literal(&space, 1);
}

// A %d or %i argument, read at the width its length modifier names.
int FormatSigned(const Conversion& c, std::string_view length, std::va_list* args, char* number) {
  long long value;
  if (length == "hh")
    value = static_cast<signed char>(va_arg(*args, int));
  else if (length == "h")
    value = static_cast<short>(va_arg(*args, int));
  else if (length == "l")
    value = va_arg(*args, long);
  else if (length == "ll")
    value = va_arg(*args, long long);
  else if (length == "j")
    value = va_arg(*args, std::intmax_t);
  else if (length == "z" || length == "t")
    value = va_arg(*args, std::ptrdiff_t);
  else
    value = va_arg(*args, int);
  return FormatNumber(c, "ll", value, number);
}

// A %u, %o, %x or %X argument, read at the width its length modifier names.
int FormatUnsigned(const Conversion& c, std::string_view length, std::va_list* args, char* number) {
  unsigned long long value;
  if (length == "hh")
    value = static_cast<unsigned char>(va_arg(*args, unsigned));
  else if (length == "h")
    value = static_cast<unsigned short>(va_arg(*args, unsigned));
  else if (length == "l")
    value = va_arg(*args, unsigned long);
  else if (length == "ll")
    value = va_arg(*args, unsigned long long);
  else if (length == "j")
    value = va_arg(*args, std::uintmax_t);
  else if (length == "z" || length == "t")
    value = va_arg(*args, std::size_t);
  else
    value = va_arg(*args, unsigned);
  return FormatNumber(c, "ll", value, number);
}

// A %s argument: at most `precision` characters, padded to the width.
template <typename Char>
void WriteString(PieceWriter<Char>& writer, const Conversion& c, std::size_t width, std::va_list* args) {
  static const Char kNull[] = {Char('('), Char('n'), Char('u'), Char('l'), Char('l'), Char(')'), Char(0)};
  const Char* text = va_arg(*args, const Char*);
  if (!text) text = kNull;
  std::size_t count = 0;
  while ((c.precision < 0 || count < static_cast<std::size_t>(c.precision)) && text[count]) {
    ++count;
  }
  if (!c.leftAlign) Pad(writer, count, width);
  writer.Argument(text, count);
  if (c.leftAlign) Pad(writer, count, width);
}

// The digits of a number, which the C library wrote as ASCII, in the
// output's character type.
template <typename Char>
void WriteNumber(PieceWriter<Char>& writer, const char* number, int numberLength) {
  Char widened[kNumberBuffer];
  for (int i = 0; i < numberLength; ++i) {
    widened[i] = static_cast<Char>(static_cast<unsigned char>(number[i]));
  }
  writer.Literal(widened, static_cast<std::size_t>(numberLength));
}

// A numeric conversion's text into `number` and its length into
// *numberLength; false when `c` is no numeric conversion.
bool FormatNumeric(const Conversion& c, std::va_list* args, char* number, int* numberLength) {
  const std::string_view length(c.length);
  switch (c.kind) {
    case 'd':
    case 'i':
      *numberLength = FormatSigned(c, length, args, number);
      return true;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      *numberLength = FormatUnsigned(c, length, args, number);
      return true;
    case 'p':
      *numberLength = FormatNumber(c, "", va_arg(*args, void*), number);
      return true;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      if (length == "L") {
        *numberLength = FormatNumber(c, "L", va_arg(*args, long double), number);
      } else {
        *numberLength = FormatNumber(c, "", va_arg(*args, double), number);
      }
      return true;
    default:
      return false;
  }
}

template <typename Char>
int Format(const Char* format, std::va_list* args) {
  PieceWriter<Char> writer(Output());
  const Char* run = format;
  const Char* p = format;
  while (*p) {
    if (*p != Char('%')) {
      ++p;
      continue;
    }
    writer.Literal(run, static_cast<std::size_t>(p - run));
    const Char* start = p++;
    Conversion c;
    ParseConversion(p, args, &c);
    const std::size_t width = c.width > 0 ? static_cast<std::size_t>(c.width) : 0;
    char number[kNumberBuffer];
    int numberLength = 0;
    switch (c.kind) {
      case '%': {
        const Char percent = Char('%');
        writer.Literal(&percent, 1);
        break;
      }
      case 's':
        WriteString(writer, c, width, args);
        break;
      case 'c': {
        const Char character = static_cast<Char>(va_arg(*args, int));
        if (!c.leftAlign) Pad(writer, 1, width);
        writer.Literal(&character, 1);
        if (c.leftAlign) Pad(writer, 1, width);
        break;
      }
      default:
        // A number; or not a conversion of this formatter, whose text goes
        // out unchanged.
        if (!FormatNumeric(c, args, number, &numberLength)) {
          writer.Literal(start, static_cast<std::size_t>(p - start));
        }
        break;
    }
    if (numberLength > 0) WriteNumber(writer, number, numberLength);
    run = p;
  }
  writer.Literal(run, static_cast<std::size_t>(p - run));
  return writer.Finish();
}

template <typename Char>
int PrintV(const Char* format, std::va_list args) {
  Output();
  if (!format || !format[0]) return 0;
  std::va_list copy;
  va_copy(copy, args);
  const int written = Format(format, &copy);
  va_end(copy);
  return written;
}

}  // namespace

int ConsolePrintV(const char* format, std::va_list args) { return PrintV(format, args); }

int ConsolePrintVW(const platform::WideChar* format, std::va_list args) { return PrintV(format, args); }

int ConsolePrint(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int written = PrintV(format, args);
  va_end(args);
  return written;
}

int ConsolePrintW(const platform::WideChar* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int written = PrintV(format, args);
  va_end(args);
  return written;
}

platform::Handle SetConsoleOutput(platform::Handle handle) {
  const platform::Handle previous = g_output;
  g_output = handle;
  return previous;
}

}  // namespace fs
