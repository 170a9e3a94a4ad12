#pragma once
// Reading what the log wrote, for the log tests.

#include <string>
#include <vector>

namespace log_testing {

// The file's bytes; empty when it can't be read.
std::string ReadBytes(const std::wstring& path);

// The file's lines without their "\r\n". Bytes after the last "\r\n" (a line
// that was not finished) come back as a last line of their own.
std::vector<std::string> ReadLines(const std::wstring& path);

// The part of a text line after the time stamp column ("INF: VLRN:[08..] ...").
std::string AfterStamp(const std::string& line);

// The "[08<id>] " prefix the log puts before messages of the calling thread.
std::string ThreadPrefix();

}  // namespace log_testing
