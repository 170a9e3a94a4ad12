#pragma once
// Type-safe printf-style formatting for log messages.
//
// Callers keep the Microsoft wide-printf formats they know ("%s" a wide string,
// "%S"/"%hs" a narrow one, "%d", "%u", "%x", "%I64u", "%p", ...), but the
// arguments travel with their types: every conversion is checked against the
// argument it consumes before anything is read. A conversion whose argument is
// missing or of the wrong kind (a number for "%s", a string for "%d") is
// written as it stands in the format, so the line shows the caller's mistake
// instead of crashing or printing memory. "%n" is never carried out.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

class LogArg {
 public:
  enum class Kind { kInteger, kFloat, kWideText, kNarrowText, kPointer };

  static LogArg Integer(uint64_t bits, bool isSigned) {
    LogArg arg(Kind::kInteger);
    arg.bits_ = bits;
    arg.signed_ = isSigned;
    return arg;
  }
  static LogArg Float(double value) {
    LogArg arg(Kind::kFloat);
    arg.float_ = value;
    return arg;
  }
  static LogArg WideText(const wchar_t* text) {
    LogArg arg(Kind::kWideText);
    arg.pointer_ = text;
    return arg;
  }
  static LogArg NarrowText(const char* text) {
    LogArg arg(Kind::kNarrowText);
    arg.pointer_ = text;
    return arg;
  }
  static LogArg Pointer(const void* pointer) {
    LogArg arg(Kind::kPointer);
    arg.pointer_ = pointer;
    return arg;
  }

  Kind kind() const { return kind_; }
  // Integers: the value widened to 64 bits (sign-extended when signed).
  uint64_t bits() const { return bits_; }
  bool isSigned() const { return signed_; }
  double floatValue() const { return float_; }
  const void* pointer() const { return pointer_; }

 private:
  explicit LogArg(Kind kind) : kind_(kind) {}

  Kind kind_;
  uint64_t bits_ = 0;
  bool signed_ = false;
  double float_ = 0.0;
  const void* pointer_ = nullptr;
};

// What may be passed to a log format: numbers, enumerations, characters and
// pointers (wide and narrow strings as pointers). Anything else, a
// std::wstring for example, does not compile.
template <typename T>
concept LogArgument = std::is_arithmetic_v<T> || std::is_enum_v<T> || std::is_pointer_v<T> || std::is_null_pointer_v<T>;

template <LogArgument T>
LogArg MakeLogArg(T value) {
  if constexpr (std::is_enum_v<T>) {
    return MakeLogArg(static_cast<std::underlying_type_t<T>>(value));
  } else if constexpr (std::is_same_v<T, bool>) {
    return LogArg::Integer(value ? 1 : 0, false);
  } else if constexpr (std::is_integral_v<T>) {
    if constexpr (std::is_signed_v<T>) {
      return LogArg::Integer(static_cast<uint64_t>(static_cast<int64_t>(value)), true);
    } else {
      return LogArg::Integer(static_cast<uint64_t>(value), false);
    }
  } else if constexpr (std::is_floating_point_v<T>) {
    return LogArg::Float(static_cast<double>(value));
  } else if constexpr (std::is_null_pointer_v<T>) {
    return LogArg::Pointer(nullptr);
  } else if constexpr (std::is_same_v<std::remove_cv_t<std::remove_pointer_t<T>>, wchar_t>) {
    return LogArg::WideText(value);
  } else if constexpr (std::is_same_v<std::remove_cv_t<std::remove_pointer_t<T>>, char>) {
    return LogArg::NarrowText(value);
  } else {
    return LogArg::Pointer(reinterpret_cast<const void*>(value));
  }
}

// Formats into at most maxChars characters; longer output is cut there.
// A null format gives an empty text.
std::wstring FormatLogMessage(const wchar_t* format, std::span<const LogArg> args, size_t maxChars);

// The front's count of arguments in a format: every "%" counts one and skips
// the character after it ("%%" counts one); a final "%" ends the scan.
int CountFormatConversions(const wchar_t* format);
