// The fuzzing driver: feeds each input surface of the updater inputs made from
// real documents, deterministically from a seed, and stops at the first crash,
// hang or broken check with the input kept in the findings folder.
//
//   fuzz.exe [--iterations N] [--seed S] [--surface NAME] [--findings DIR] [--time-limit SECONDS]
//   fuzz.exe --replay DIR        every file in DIR\<surface>\ through its surface
//   fuzz.exe --bench SECONDS     inputs per second of each surface as bench/run's FIGURE lines
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_support.h"
#include "finding_file.h"
#include "log/clog.h"
#include "log/process_log.h"
#include "mutator.h"
#include "prng.h"
#include "product/program_infos_store.h"
#include "surfaces.h"
#include "watchdog.h"
#include "win/strings.h"

namespace {

using fuzz::Surface;

constexpr uint64_t kDefaultIterations = 10000;
constexpr uint32_t kDefaultTimeLimitSeconds = 10;
constexpr wchar_t kDefaultFindings[] = L"fuzz-findings";

struct Options {
  uint64_t iterations = kDefaultIterations;
  uint64_t seed = 1;
  std::string surface;  // empty: every surface
  std::wstring findings = kDefaultFindings;
  uint32_t timeLimitSeconds = kDefaultTimeLimitSeconds;
  std::wstring replay;
  double benchSeconds = 0;
};

bool ParseNumber(const wchar_t* text, uint64_t& value) {
  wchar_t* end = nullptr;
  errno = 0;
  value = std::wcstoull(text, &end, 10);
  return errno == 0 && end != text && *end == L'\0';
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring name = argv[i];
    if (i + 1 >= argc) return false;
    const wchar_t* value = argv[++i];
    uint64_t number = 0;
    if (name == L"--iterations" && ParseNumber(value, number)) {
      options.iterations = number;
    } else if (name == L"--seed" && ParseNumber(value, number)) {
      options.seed = number;
    } else if (name == L"--surface") {
      options.surface = win::ToUtf8(value);
    } else if (name == L"--findings") {
      options.findings = value;
    } else if (name == L"--time-limit" && ParseNumber(value, number) && number > 0 && number < 86400) {
      options.timeLimitSeconds = static_cast<uint32_t>(number);
    } else if (name == L"--replay") {
      options.replay = value;
    } else if (name == L"--bench" && ParseNumber(value, number) && number > 0) {
      options.benchSeconds = static_cast<double>(number);
    } else {
      return false;
    }
  }
  return true;
}

// A stable number per surface, so that adding a surface changes no other's inputs.
uint64_t SurfaceId(const std::string& name) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return hash;
}

// Feeds one input under the watchdog; exits the process on a broken check or an exception.
void FeedGuarded(const Surface& surface, uint64_t seed, uint64_t index, const std::string& input,
                 const std::wstring& findings) {
  fuzz::BeginInput(surface.name, seed, index, input);
  fuzz::Verdict verdict;
  const char* kind = "invariant";
  int exitCode = fuzz::kExitBrokenInvariant;
  try {
    verdict = surface.feed(input);
  } catch (const std::exception& e) {
    verdict = std::string("exception: ") + e.what();
    kind = "exception";
    exitCode = fuzz::kExitException;
  } catch (...) {
    verdict = "an exception of unknown type";
    kind = "exception";
    exitCode = fuzz::kExitException;
  }
  fuzz::EndInput();
  if (!verdict) return;
  const std::wstring path = fuzz::WriteFinding(findings, surface.name, seed, index, kind, input, *verdict);
  std::printf("fuzz: %s on %s input %llu (seed %llu): %s; kept as %ls\n", kind, surface.name.c_str(),
              static_cast<unsigned long long>(index), static_cast<unsigned long long>(seed), verdict->c_str(),
              path.empty() ? L"(nothing: it could not be written)" : path.c_str());
  std::fflush(stdout);
  std::exit(exitCode);
}

double Seconds() { return bench::Now(); }

void Fuzz(const Surface& surface, const Options& options) {
  const fuzz::Mutator mutator(surface.seeds, surface.dictionary, surface.maxInputBytes);
  const uint64_t id = SurfaceId(surface.name);
  const uint64_t deepBefore = *surface.deep;
  const double start = Seconds();
  for (uint64_t i = 0; i < options.iterations; ++i) {
    fuzz::Prng prng(fuzz::InputSeed(options.seed, id, i));
    const std::string input = mutator.Make(prng);
    FeedGuarded(surface, options.seed, i, input, options.findings);
  }
  const double elapsed = Seconds() - start;
  const uint64_t deep = *surface.deep - deepBefore;
  std::printf(
      "fuzz: %-13s %10llu inputs %9.2f s %10.0f inputs/s   %5.1f%% went deep\n", surface.name.c_str(),
      static_cast<unsigned long long>(options.iterations), elapsed,
      elapsed > 0 ? static_cast<double>(options.iterations) / elapsed : 0.0,
      options.iterations > 0 ? 100.0 * static_cast<double>(deep) / static_cast<double>(options.iterations) : 0.0);
  std::fflush(stdout);
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return bytes;
  char block[4096];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
  std::fclose(file);
  return bytes;
}

// Every file below folder\<surface>\, in name order; the count replayed.
int Replay(const std::vector<Surface>& surfaces, const Options& options) {
  uint64_t total = 0;
  for (const Surface& surface : surfaces) {
    const std::wstring folder = options.replay + L"\\" + win::FromUtf8(surface.name) + L"\\";
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const win::UniqueFind find(::FindFirstFileW((folder + L"*").c_str(), &found));
    for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &found)) {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
    }
    std::sort(names.begin(), names.end());
    for (size_t i = 0; i < names.size(); ++i) {
      FeedGuarded(surface, 0, i, ReadFileBytes(folder + names[i]), options.findings);
    }
    std::printf("fuzz: replayed %zu inputs of %s\n", names.size(), surface.name.c_str());
    total += names.size();
  }
  std::printf("fuzz: replayed %llu inputs, every check held\n", static_cast<unsigned long long>(total));
  return fuzz::kExitClean;
}

// Each surface for about the given time against making and copying the same
// inputs alone, the driver's own share of the work.
int Bench(const std::vector<Surface>& surfaces, const Options& options) {
  const double perSurface = options.benchSeconds / static_cast<double>(surfaces.size());
  for (const Surface& surface : surfaces) {
    const fuzz::Mutator mutator(surface.seeds, surface.dictionary, surface.maxInputBytes);
    const uint64_t id = SurfaceId(surface.name);
    uint64_t count = 0;
    const double start = Seconds();
    while (Seconds() - start < perSurface) {
      fuzz::Prng prng(fuzz::InputSeed(options.seed, id, count));
      FeedGuarded(surface, options.seed, count, mutator.Make(prng), options.findings);
      ++count;
    }
    const double fed = static_cast<double>(count) / (Seconds() - start);
    volatile size_t copiedBytes = 0;  // keeps the copies from being optimised away
    const double copyStart = Seconds();
    for (uint64_t i = 0; i < count; ++i) {
      fuzz::Prng prng(fuzz::InputSeed(options.seed, id, i));
      const std::string input = mutator.Make(prng);
      std::string copy = input;
      copiedBytes = copiedBytes + copy.size();
    }
    const double copied = static_cast<double>(count) / std::max(Seconds() - copyStart, 1e-9);
    const std::wstring name = L"fuzz " + win::FromUtf8(surface.name) + L" vs make-and-copy (inputs/s)";
    const std::wstring measured = win::FormatW(L"%.0f vs %.0f", fed, copied);
    bench::PrintReportedFigure(name.c_str(), measured, fed / copied);
  }
  return fuzz::kExitClean;
}

// The process log keeps its level, so the parsers' lines are still composed,
// but nothing is written: a million inputs would fill the disk.
void QuietProcessLog() {
  CLog& log = GetLog();
  log.SetLogFile(nullptr, kLogTextChannel, false, 0);
  log.SetLogFile(nullptr, kLogRecordChannel, false, 0);
  log.SetLineCallback([](const wchar_t*) {});
}

// A product record published once, as start-up does, so that the parsers that
// read it do not look for the product on every input.
void PublishProduct(const std::wstring& folder) {
  ProgramInfos product;
  product.ProgramName = L"Renova Test Product";
  product.DisplayName = product.ProgramName;
  product.ProgramVersion = L"3.0.0";
  product.InstalledLocation = folder;
  product.Language = 1031;
  product.UninstallKeyName = L"Renova Test Product_is1";
  CompleteProgramInfos(product);
}

std::wstring MakeScratchFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring folder =
      std::wstring(temp, length) + L"vlrn-fuzz-" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
  // A run that was ended (a crash, a stopped Wine) leaves its folder, and process ids come again.
  const bool made = ::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
  return made ? folder : std::wstring();
}

void RemoveScratchFolder(const std::wstring& folder) {
  for (const wchar_t* name : {L"VersionInfo.txt", L"records.bin"}) ::DeleteFileW((folder + name).c_str());
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::printf(
        "usage: fuzz.exe [--iterations N] [--seed S] [--surface NAME] [--findings DIR] [--time-limit S]\n"
        "       fuzz.exe --replay DIR | --bench SECONDS\n");
    return fuzz::kExitUsage;
  }
  const std::wstring scratch = MakeScratchFolder();
  if (scratch.empty()) {
    std::printf("fuzz: no scratch folder in the temporary folder\n");
    return fuzz::kExitUsage;
  }
  if (!fuzz::StartWatchdog(options.findings, options.timeLimitSeconds * 1000)) {
    std::printf("fuzz: the watchdog did not start\n");
    return fuzz::kExitUsage;
  }
  QuietProcessLog();
  PublishProduct(scratch);

  std::vector<Surface> surfaces = fuzz::MakeSurfaces(scratch);
  if (!options.surface.empty()) {
    std::erase_if(surfaces, [&](const Surface& surface) { return surface.name != options.surface; });
    if (surfaces.empty()) {
      std::printf("fuzz: no surface called %s\n", options.surface.c_str());
      RemoveScratchFolder(scratch);
      return fuzz::kExitUsage;
    }
  }
  int result = fuzz::kExitClean;
  if (!options.replay.empty()) {
    result = Replay(surfaces, options);
  } else if (options.benchSeconds > 0) {
    result = Bench(surfaces, options);
  } else {
    for (const Surface& surface : surfaces) Fuzz(surface, options);
  }
  RemoveScratchFolder(scratch);
  return result;
}
