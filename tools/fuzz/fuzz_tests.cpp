// The fuzzer's own parts: inputs made again from their seed, each structural
// mutation doing what it is named for within the size limit, every surface
// accepting the real documents it starts from, and the watchdog keeping the
// input of a child that crashes, aborts or hangs.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "finding_file.h"
#include "mutator.h"
#include "prng.h"
#include "support/child_process.h"
#include "support/scratch.h"
#include "surfaces.h"
#include "watchdog.h"

namespace {

using fuzz::Mutation;
using fuzz::Mutator;
using fuzz::Prng;

constexpr wchar_t kChildSwitch[] = L"--watchdog-child";
constexpr char kChildInput[] = "<the input\0 being fed>";
constexpr uint32_t kChildTimeLimitMs = 500;

TEST(FuzzPrng, TheNumbersAreSplitmix64sAsTheServicesFuzzerDrawsThem) {
  // splitmix64's published first outputs for the seeds 0 and 1234567 (test_server_decoding.py checks the same).
  EXPECT_EQ(Prng(0).Next(), 0xE220A8397B1DCDAFull);
  Prng prng(1234567);
  EXPECT_EQ(prng.Next(), 6457827717110365317ull);
  EXPECT_EQ(prng.Next(), 3203168211198807973ull);
  EXPECT_EQ(prng.Next(), 9817491932198370423ull);
}

TEST(FuzzMutator, AnInputIsMadeAgainFromItsSeedAloneAndOthersDiffer) {
  const Mutator mutator({"<a x=\"1\">text</a>", "second seed"}, {"word"}, 4096);
  std::vector<std::string> first;
  for (uint64_t i = 0; i < 200; ++i) {
    Prng prng(fuzz::InputSeed(5, 11, i));
    first.push_back(mutator.Make(prng));
  }
  size_t distinct = 0;
  for (uint64_t i = 200; i-- > 0;) {  // in the other order: nothing depends on the inputs before
    Prng prng(fuzz::InputSeed(5, 11, i));
    EXPECT_EQ(mutator.Make(prng), first[i]) << i;
    distinct += first[i] != first[(i + 1) % first.size()];
  }
  EXPECT_GT(distinct, 150u);
  EXPECT_NE(fuzz::InputSeed(5, 11, 0), fuzz::InputSeed(6, 11, 0));
  EXPECT_NE(fuzz::InputSeed(5, 11, 0), fuzz::InputSeed(5, 12, 0));
}

TEST(FuzzMutator, NoMutationGrowsAnInputBeyondTheLimit) {
  constexpr size_t kLimit = 300;
  const std::string seed = "<r a=\"1\" b='2'><c>12345</c><d/></r>";
  const Mutator mutator({seed, std::string(kLimit, '<')}, {std::string(500, 'w')}, kLimit);
  for (size_t kind = 0; kind < static_cast<size_t>(Mutation::kCount); ++kind) {
    for (uint64_t round = 0; round < 200; ++round) {
      Prng prng(round * 31 + kind);
      std::string input = mutator.seeds()[round % 2];
      mutator.Apply(static_cast<Mutation>(kind), input, prng);
      ASSERT_LE(input.size(), kLimit) << "mutation " << kind << ", round " << round;
    }
  }
}

TEST(FuzzMutator, StructuralMutationsRepeatElementsAttributesAndNest) {
  const Mutator mutator({"x"}, {}, 1 << 20);
  for (uint64_t round = 0; round < 20; ++round) {
    Prng prng(round);
    std::string element = "<only>text</only> tail";
    mutator.Apply(Mutation::kDuplicateElement, element, prng);
    EXPECT_EQ(element.rfind("<only>text</only><only>text</only>", 0), 0u) << element;
    EXPECT_EQ(element.substr(element.size() - 5), " tail");

    std::string attribute = "<a x=\"1\"/>";
    mutator.Apply(Mutation::kDuplicateAttribute, attribute, prng);
    EXPECT_EQ(attribute.rfind("<a x=\"1\" x=\"1\"", 0), 0u) << attribute;

    std::string nested = "<r/>";
    mutator.Apply(Mutation::kDeepNesting, nested, prng);
    EXPECT_GT(std::count(nested.begin(), nested.end(), '<'), 1) << nested;

    // A long run of one character somewhere, or another number in place of the 7.
    const std::string original = "<UpdateId>7</UpdateId>";
    std::string number = original;
    mutator.Apply(Mutation::kHugeValue, number, prng);
    EXPECT_NE(number, original);
  }
}

bool IsValidUtf8(const std::string& text) {
  return text.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0) > 0;
}

TEST(FuzzMutator, ByteMutationsBringZerosInvalidUtf8CodePageBytesAndTheSurfacesWords) {
  const Mutator mutator({"x"}, {"-ProgramName"}, 1 << 20);
  const std::string ascii = "<a b=\"c\">plain ascii text</a>";
  for (uint64_t round = 0; round < 30; ++round) {
    Prng prng(round);
    std::string zeros = ascii;
    mutator.Apply(Mutation::kNulBytes, zeros, prng);
    EXPECT_NE(zeros.find('\0'), std::string::npos);

    std::string invalid = ascii;
    mutator.Apply(Mutation::kInvalidUtf8, invalid, prng);
    EXPECT_GT(invalid.size(), ascii.size());
    // Every sequence it inserts is invalid but the byte order mark, which is also no ASCII.
    EXPECT_TRUE(!IsValidUtf8(invalid) || invalid.find("\xEF\xBB\xBF") != std::string::npos) << round;

    std::string codePage = ascii;
    mutator.Apply(Mutation::kCodePageBytes, codePage, prng);
    EXPECT_TRUE(
        std::any_of(codePage.begin(), codePage.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; }));

    std::string flipped = ascii;
    mutator.Apply(Mutation::kBitFlip, flipped, prng);
    ASSERT_EQ(flipped.size(), ascii.size());
    EXPECT_NE(flipped, ascii);

    std::string worded = ascii;
    mutator.Apply(Mutation::kDictionaryWord, worded, prng);
    EXPECT_NE(worded.find("-ProgramName"), std::string::npos);

    std::string shorter = ascii;
    mutator.Apply(Mutation::kDeleteBytes, shorter, prng);
    EXPECT_LT(shorter.size(), ascii.size());
  }
}

TEST(FuzzMutator, SplicesJoinTheStartOfOneDocumentToTheEndOfAnother) {
  const Mutator mutator({"BBBBBBBB"}, {}, 1024);
  for (uint64_t round = 0; round < 50; ++round) {
    Prng prng(round);
    std::string input = "AAAAAAAA";
    mutator.Apply(Mutation::kSplice, input, prng);
    const size_t as = input.find_first_not_of('A');
    const std::string rest = as == std::string::npos ? "" : input.substr(as);
    EXPECT_EQ(rest.find_first_not_of('B'), std::string::npos) << input;
  }
}

TEST(FuzzFindings, AFindingIsItsInputAndWhatHappenedNamedBySurfaceSeedAndNumber) {
  testing_support::ScratchFolder folder;
  const std::string input("<a>\0\xFF", 5);
  for (const std::wstring& findings : {folder.path() + L"new", folder.path() + L"slash\\"}) {
    const std::wstring path = fuzz::WriteFinding(findings, "url", 12, 345, "hang", input, "over 10 ms");
    std::wstring base = findings;
    if (base.back() != L'\\') base += L'\\';
    base += L"url-seed12-input345-hang";
    EXPECT_EQ(path, base + L".bin");
    EXPECT_EQ(testing_support::ReadFileBytes(base + L".bin"), input);
    EXPECT_EQ(testing_support::ReadFileBytes(base + L".txt"), "url hang: over 10 ms\r\n");
  }
  // A folder that can't be made: nothing is claimed to be kept.
  EXPECT_EQ(fuzz::WriteFinding(folder.path() + L"no\\such\\parents", "url", 1, 1, "crash", input, ""), L"");
}

// A check that fails on a real document would bury every real finding.
TEST(FuzzSurfaces, EverySurfaceAcceptsTheRealDocumentsItStartsFrom) {
  testing_support::ScratchFolder folder;
  const std::vector<fuzz::Surface> surfaces = fuzz::MakeSurfaces(folder.path());
  ASSERT_EQ(surfaces.size(), 5u);
  for (const fuzz::Surface& surface : surfaces) {
    ASSERT_FALSE(surface.seeds.empty()) << surface.name;
    for (const std::string& seed : surface.seeds) {
      const fuzz::Verdict verdict = surface.feed(seed);
      EXPECT_FALSE(verdict.has_value()) << surface.name << ": " << verdict.value_or("") << "\n" << seed;
    }
    EXPECT_GT(*surface.deep, 0u) << surface.name << ": no real document got past the first checks";
  }
}

struct EdgeInput {
  const char* surface;
  std::string input;
  bool deep;  // whether the real parser should get past its first checks with it
};

// The checks' own reading of an input (four lines in 64 KiB, a port in range...)
// must be the parser's: each input here is one the parsers handle correctly.
TEST(FuzzSurfaces, EdgeInputsPassEveryCheckAndGoDeepExactlyWhereTheParserAcceptsThem) {
  const std::string line(70 * 1024, 'x');
  const std::vector<EdgeInput> inputs = {
      {"version_info", "a\nb\nc\n" + line, true},   // the fourth line is cut at 64 KiB
      {"version_info", line + "\nb\nc\nd", false},  // only the first line lies within 64 KiB
      {"version_info", "a\r\n\r\n\r\n\r\n", true},
      {"version_info", "a\nb\nc\n", false},
      {"url", "http://[::1]:8080/a", true},
      {"url", "https://h:00443/x", true},
      {"url", "http://h:65536/", false},
      {"url", "http://h:0", false},
      {"command_line", "x.exe -ProgramName", false},                               // the value never came
      {"command_line", "x.exe -DisplayName -ProgramName -ProgramName Foo", true},  // a switch's name as a value
      {"instruction", "<I><UpdateId>1</UpdateId><Pre><Action Name=\"StartProcess\" FileName=\"a.exe\"/></Pre></I>",
       true},
      {"instruction", "<I>&#x41;<UpdateId>&#x31;</UpdateId><Download><File Url=\"&amp;\"/></Download></I>", true},
      {"instruction", "<I><UpdateId>0</UpdateId><Pre><Action Name=\"SetRegValue\"/></Pre></I>", false},
  };
  testing_support::ScratchFolder folder;
  std::vector<fuzz::Surface> surfaces = fuzz::MakeSurfaces(folder.path());
  for (const EdgeInput& edge : inputs) {
    const auto surface = std::find_if(surfaces.begin(), surfaces.end(),
                                      [&](const fuzz::Surface& candidate) { return candidate.name == edge.surface; });
    ASSERT_NE(surface, surfaces.end()) << edge.surface;
    const uint64_t before = *surface->deep;
    const fuzz::Verdict verdict = surface->feed(edge.input);
    EXPECT_FALSE(verdict.has_value()) << edge.surface << ": " << verdict.value_or("") << "\n"
                                      << edge.input.substr(0, 80);
    EXPECT_EQ(*surface->deep > before, edge.deep) << edge.surface << ": " << edge.input.substr(0, 80);
  }
}

TEST(FuzzSurfaces, TheLogSeedsAreRecordFilesTheLogWrote) {
  testing_support::ScratchFolder folder;
  for (const fuzz::Surface& surface : fuzz::MakeSurfaces(folder.path())) {
    if (surface.name != "log_records") continue;
    ASSERT_EQ(surface.seeds.size(), 2u);
    for (const std::string& seed : surface.seeds) {
      EXPECT_GT(seed.size(), 4u * 44);  // four records
      EXPECT_EQ(seed.compare(0, 4, std::string("\0\0\1\0", 4)), 0);
    }
    EXPECT_NE(surface.seeds[0].find("download of"), std::string::npos);
    EXPECT_EQ(surface.seeds[1].find("download of"), std::string::npos);  // scrambled
  }
}

struct ChildCase {
  const wchar_t* behaviour;
  DWORD exitCode;
  const wchar_t* kind;
};

TEST(FuzzWatchdog, KeepsTheInputOfAChildThatCrashesAbortsOrHangs) {
  for (const ChildCase& c :
       {ChildCase{L"crash", fuzz::kExitCrash, L"crash"}, ChildCase{L"abort", fuzz::kExitCrash, L"crash"},
        ChildCase{L"hang", fuzz::kExitHang, L"hang"}}) {
    SCOPED_TRACE(c.behaviour);
    testing_support::ScratchFolder folder;
    testing_support::ChildProcess child(
        testing_support::BinFolder() + L"fuzz_tests.exe",
        std::wstring(kChildSwitch) + L" " + c.behaviour + L" \"" + folder.path() + L"findings\"");
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.Wait(60000), c.exitCode);
    const std::wstring kept = folder.path() + L"findings\\child-seed9-input4-" + c.kind;
    EXPECT_EQ(testing_support::ReadFileBytes(kept + L".bin"), std::string(kChildInput, sizeof kChildInput - 1));
    EXPECT_NE(testing_support::ReadFileBytes(kept + L".txt").find("child"), std::string::npos);
  }
}

// The driver itself, as a child: what a run, a replay and a bad command line end with.
DWORD RunDriver(const std::wstring& args) {
  testing_support::ChildProcess driver(testing_support::BinFolder() + L"fuzz.exe", args);
  if (!driver.started()) return 0xFFFFFFFF;
  return driver.Wait(120000).value_or(0xFFFFFFFE);
}

TEST(FuzzDriver, RunsAndReplaysWithoutFindingsEndCleanAndKeepNothing) {
  testing_support::ScratchFolder folder;
  const std::wstring findings = L" --findings \"" + folder.path() + L"findings\"";
  EXPECT_EQ(RunDriver(L"--iterations 300 --seed 4 --surface url" + findings), DWORD{fuzz::kExitClean});
  folder.WriteFile(L"replay\\url\\port.bin", "https://localhost:65535/Renova/");
  folder.WriteFile(L"replay\\command_line\\empty.bin", "");
  folder.WriteFile(L"replay\\instruction\\nul.bin", std::string("<Instruction>\0<UpdateId>1", 25));
  EXPECT_EQ(RunDriver(L"--replay \"" + folder.path() + L"replay\"" + findings), DWORD{fuzz::kExitClean});
  EXPECT_FALSE(testing_support::PathExists(folder.path() + L"findings"));
}

TEST(FuzzDriver, UnknownSurfacesAndMalformedNumbersAreUsageErrors) {
  for (const wchar_t* args :
       {L"--surface nosuch --iterations 1", L"--iterations 12x", L"--seed", L"--time-limit 0", L"--colour blue"}) {
    EXPECT_EQ(RunDriver(args), DWORD{fuzz::kExitUsage}) << args;
  }
}

// The child's side of the watchdog test: it feeds one input and fails with it.
[[noreturn]] void RunWatchdogChild(const std::wstring& behaviour, const std::wstring& findings) {
  if (!fuzz::StartWatchdog(findings, kChildTimeLimitMs)) std::exit(90);
  static const std::string surface = "child";
  static const std::string input(kChildInput, sizeof kChildInput - 1);
  fuzz::BeginInput(surface, 9, 4, input);
  if (behaviour == L"crash") {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  } else if (behaviour == L"abort") {
    std::abort();
  }
  for (;;) ::Sleep(1000);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == kChildSwitch) RunWatchdogChild(argv[2], argv[3]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
