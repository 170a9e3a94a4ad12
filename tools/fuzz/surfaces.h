#pragma once
// The updater's input surfaces as the fuzzer feeds them: each takes one input's
// bytes, runs the real parser on them and checks what must hold whatever the
// input was.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fuzz {

// Nothing when every check held, else which one broke and how.
using Verdict = std::optional<std::string>;

struct Surface {
  std::string name;
  std::vector<std::string> seeds;
  std::vector<std::string> dictionary;
  size_t maxInputBytes = 0;
  std::function<Verdict(const std::string& input)> feed;
  // How many inputs got past the outer checks to the parts behind them (the
  // actions of an instruction, a complete VersionInfo.txt, a record read...).
  std::shared_ptr<uint64_t> deep = std::make_shared<uint64_t>(0);
};

// Every surface. Those that read files keep them in scratchFolder (ends with
// "\"), which must exist; the log's own record files become seeds there.
std::vector<Surface> MakeSurfaces(const std::wstring& scratchFolder);

}  // namespace fuzz
