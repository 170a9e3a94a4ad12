#pragma once
// When a download that broke off may go on from where it stopped. A resumed
// file is the old bytes followed by the new ones, so it is only right when the
// server sends the rest of the same file: the request names the file's version
// (If-Range) and the answer must start exactly where the file ends.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How often one download goes on after breaking off.
inline constexpr int kMaxResumes = 3;

// What the server told about the file with its first answer.
struct FileVersion {
  std::wstring etag;           // empty when none was given
  std::wstring lastModified;   // empty when none was given
  bool acceptsRanges = false;  // "Accept-Ranges: bytes"
};

// The If-Range value that names this version: a strong ETag, else the date of
// its last change. Nothing when the version can't be named (a weak ETag and
// no date, or neither), and the download then starts again instead.
std::optional<std::wstring> IfRangeValue(const FileVersion& version);

// What an answer to a request for the bytes from `offset` on means.
enum class RangeAnswer {
  kRest,       // 206 from exactly offset: append
  kWholeFile,  // 200: the server sends the whole file (it changed, or takes no ranges)
  kUnusable,   // anything else (another start, 416, an unreadable Content-Range)
};
RangeAnswer ClassifyRangeAnswer(unsigned status, std::wstring_view contentRange, uint64_t offset);

// A decimal number that is the whole text (digits only, at most 64 bits), as
// Content-Length gives it; nothing otherwise.
std::optional<uint64_t> ParseDecimal(std::wstring_view text);

// The whole file's length T of a readable "bytes N-M/T"; nothing for "*".
std::optional<uint64_t> ContentRangeTotal(std::wstring_view contentRange);

// The start of "bytes N-M/T" (spaces allowed as HTTP allows them); nothing
// when it is not that form.
std::optional<uint64_t> ContentRangeStart(std::wstring_view contentRange);
