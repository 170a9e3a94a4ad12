#pragma once
// The log files the updater writes for a product, read by tests that run it.

#include <string>

namespace testing_support {

// Where the updater's log files go: "<temp>VI Vadavura\VL Renova\".
std::wstring LogFolder();

// The text of every log file of the product ("<stamp>_<fileName>.log", and
// "<stamp>_<fileName>_<process id>.log" of a second updater in the same
// second), in the order of their time stamps; empty when there is none.
// fileName is the program name as it appears in the file's name.
std::string ReadProductLog(const std::wstring& fileName);

// The last `count` lines of a log: what a failure message shows, since a CI
// report keeps only the beginning and the end of a test's output.
std::string LastLines(const std::string& text, size_t count = 40);

}  // namespace testing_support
