// The stand-in setup: how it reads the updater's two command lines and its
// payload file (against the system's own CommandLineToArgvW where that has a
// say), and then the real setup.exe, started from a scratch cache folder with
// the updater's exact command lines: its record, its run-by-run exit codes, its
// copies, and a real package installed through the prefix's msiexec.
#include <windows.h>
#include <msi.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "setup_command_line.h"

namespace {

using namespace fake_setup;

// The updater's update command line, with a cache folder and an installed
// location that both end with "\", as it writes them.
constexpr wchar_t kUpdateLine[] =
    LR"("C:\ProgramData\Velbor\Cache\\Setup.exe" /s /NoSetupFromWeb /v"/qb REINSTALL=ALL REINSTALLMODE=vamus REBOOT=ReallySuppress ADDLOCAL=ALL ADDSOURCE=Help INSTALLDIR=\"C:\Program Files\Tool\\\"")";
constexpr wchar_t kUpdateText[] =
    LR"(/qb REINSTALL=ALL REINSTALLMODE=vamus REBOOT=ReallySuppress ADDLOCAL=ALL ADDSOURCE=Help INSTALLDIR="C:\Program Files\Tool\")";
constexpr wchar_t kInstallLine[] = LR"("C:\ProgramData\Velbor\Cache\setup.exe" /v"NoSetupFromWeb="1"")";
constexpr wchar_t kAffiliateLine[] =
    LR"("C:\ProgramData\Velbor\Cache\setup.exe" /v"NoSetupFromWeb="1"" /v"AFFILIATE_ID="ab-12_7"")";

std::vector<std::wstring> SystemSplit(const std::wstring& line) {
  int count = 0;
  LPWSTR* arguments = ::CommandLineToArgvW(line.c_str(), &count);
  std::vector<std::wstring> result;
  if (!arguments) return result;
  for (int i = 0; i < count; ++i) result.emplace_back(arguments[i]);
  ::LocalFree(arguments);
  return result;
}

SetupRequest Parse(const std::wstring& line) {
  std::vector<std::wstring> arguments = SplitCommandLine(line);
  EXPECT_FALSE(arguments.empty());
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return ParseSetupArguments(arguments);
}

std::vector<std::pair<std::wstring, std::wstring>> Pairs(const SetupRequest& request) {
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  for (const InstallerProperty& property : request.properties) pairs.emplace_back(property.name, property.value);
  return pairs;
}

using PropertyList = std::vector<std::pair<std::wstring, std::wstring>>;

// --- The command line -------------------------------------------------------------

TEST(SetupCommandLine, UpdateLineGivesTheInstallerTextWithItsQuotesAndTrailingBackslash) {
  const std::vector<std::wstring> expected = {LR"(C:\ProgramData\Velbor\Cache\\Setup.exe)", L"/s", L"/NoSetupFromWeb",
                                              std::wstring(L"/v") + kUpdateText};
  EXPECT_EQ(expected, SplitCommandLine(kUpdateLine));
  EXPECT_EQ(expected, SystemSplit(kUpdateLine));

  const SetupRequest request = Parse(kUpdateLine);
  EXPECT_TRUE(request.silent);
  EXPECT_TRUE(request.noSetupFromWeb);
  EXPECT_TRUE(request.others.empty());
  EXPECT_EQ(kUpdateText, request.installerText);
  EXPECT_EQ(L"/qb", request.uiSwitch);
  const PropertyList properties = {{L"REINSTALL", L"ALL"},         {L"REINSTALLMODE", L"vamus"},
                                   {L"REBOOT", L"ReallySuppress"}, {L"ADDLOCAL", L"ALL"},
                                   {L"ADDSOURCE", L"Help"},        {L"INSTALLDIR", LR"(C:\Program Files\Tool\)"}};
  EXPECT_EQ(properties, Pairs(request));
  EXPECT_EQ(LR"(C:\Program Files\Tool\)", FindProperty(request, L"INSTALLDIR"));
  EXPECT_EQ(std::nullopt, FindProperty(request, L"installdir"));
}

TEST(SetupCommandLine, RerunLineWithoutNoSetupFromWebKeepsEverythingElse) {
  std::wstring rerun = kUpdateLine;
  rerun.erase(rerun.find(L"/NoSetupFromWeb "), 16);
  ASSERT_EQ(std::wstring::npos, rerun.find(L"NoSetupFromWeb"));
  EXPECT_EQ(SystemSplit(rerun), SplitCommandLine(rerun));

  const SetupRequest request = Parse(rerun);
  EXPECT_TRUE(request.silent);
  EXPECT_FALSE(request.noSetupFromWeb);
  EXPECT_EQ(kUpdateText, request.installerText);
  EXPECT_EQ(LR"(C:\Program Files\Tool\)", FindProperty(request, L"INSTALLDIR"));
  EXPECT_EQ(6u, request.properties.size());
}

TEST(SetupCommandLine, MajorUpgradeQuietLineAndTheFullFeatureList) {
  const std::wstring line =
      LR"("C:\Cache\\Setup.exe" /s /NoSetupFromWeb /v"/qn REINSTALLMODE=amus ADDLOCAL=ALL ADDSOURCE=a,b REMOVE=c ADVERTISE=d INSTALLDIR=\"D:\Velbor Tools\Tool Two\\\"")";
  EXPECT_EQ(SystemSplit(line), SplitCommandLine(line));
  const SetupRequest request = Parse(line);
  EXPECT_EQ(L"/qn", request.uiSwitch);
  const PropertyList properties = {{L"REINSTALLMODE", L"amus"}, {L"ADDLOCAL", L"ALL"},
                                   {L"ADDSOURCE", L"a,b"},      {L"REMOVE", L"c"},
                                   {L"ADVERTISE", L"d"},        {L"INSTALLDIR", LR"(D:\Velbor Tools\Tool Two\)"}};
  EXPECT_EQ(properties, Pairs(request));
  EXPECT_EQ(std::nullopt, FindProperty(request, L"REINSTALL"));
}

TEST(SetupCommandLine, InstallationLineWithAndWithoutAffiliate) {
  const std::vector<std::wstring> plain = {LR"(C:\ProgramData\Velbor\Cache\setup.exe)", L"/vNoSetupFromWeb=1"};
  EXPECT_EQ(plain, SplitCommandLine(kInstallLine));
  EXPECT_EQ(plain, SystemSplit(kInstallLine));
  SetupRequest request = Parse(kInstallLine);
  EXPECT_FALSE(request.silent);
  EXPECT_FALSE(request.noSetupFromWeb);  // a property here, not the switch
  EXPECT_EQ(L"", request.uiSwitch);
  EXPECT_EQ((PropertyList{{L"NoSetupFromWeb", L"1"}}), Pairs(request));
  EXPECT_EQ(std::nullopt, FindProperty(request, L"INSTALLDIR"));

  const std::vector<std::wstring> affiliate = {LR"(C:\ProgramData\Velbor\Cache\setup.exe)", L"/vNoSetupFromWeb=1",
                                               L"/vAFFILIATE_ID=ab-12_7"};
  EXPECT_EQ(affiliate, SplitCommandLine(kAffiliateLine));
  EXPECT_EQ(affiliate, SystemSplit(kAffiliateLine));
  request = Parse(kAffiliateLine);
  EXPECT_EQ(L"NoSetupFromWeb=1 AFFILIATE_ID=ab-12_7", request.installerText);
  EXPECT_EQ((PropertyList{{L"NoSetupFromWeb", L"1"}, {L"AFFILIATE_ID", L"ab-12_7"}}), Pairs(request));
}

// Where the parser's rules differ from the plain ones, the system decides.
TEST(SetupCommandLine, SplitsLikeTheSystemOnQuotesAndBackslashes) {
  const wchar_t* lines[] = {
      LR"(p a b)",
      L"p   a\t b   ",
      LR"("C:\a b\\" x)",
      LR"("p"x y)",
      LR"(p a\b a\\b a\"b a\\"b c" a\\\"b)",
      LR"(p "a b" "" c)",
      LR"(p "a""b c" d)",
      LR"(p "a"" b" c)",
      LR"(p "a""""b" c)",
      LR"(p a"""b c)",
      LR"(p """a b""" c)",
      LR"(p "\"" x)",
      LR"(p "a\\\\" b\\)",
      LR"(p /v"/qn X=\"1 2\"" /V"Y=\"\"")",
      LR"(p "unterminated \" x)",
  };
  for (const wchar_t* line : lines) {
    EXPECT_EQ(SystemSplit(line), SplitCommandLine(line)) << line;
  }
  EXPECT_EQ((std::vector<std::wstring>{L"p", L"a b", L"", L"c"}), SplitCommandLine(LR"(p "a b" "" c)"));
  EXPECT_EQ((std::vector<std::wstring>{L"p", LR"(a\b)", LR"(a\\b)", LR"(a"b)", LR"(a\b c)", LR"(a\"b)"}),
            SplitCommandLine(LR"(p a\b a\\b a\"b a\\"b c" a\\\"b)"));
}

TEST(SetupCommandLine, SwitchesAreReadWithoutRegardToCaseAndUnknownOnesKept) {
  const SetupRequest request = Parse(LR"(setup.exe /S /nosetupfromweb /x "/V/QB! A=1" /vB=2)");
  EXPECT_TRUE(request.silent);
  EXPECT_TRUE(request.noSetupFromWeb);
  EXPECT_EQ((std::vector<std::wstring>{L"/x"}), request.others);
  EXPECT_EQ(L"/QB! A=1 B=2", request.installerText);
  EXPECT_EQ(L"/QB!", request.uiSwitch);
  EXPECT_EQ((PropertyList{{L"A", L"1"}, {L"B", L"2"}}), Pairs(request));
}

TEST(SetupCommandLine, InstallerTextSplitsAtBlanksOutsideQuotesAndKeepsWordsAsWritten) {
  EXPECT_EQ((std::vector<std::wstring>{L"/qb", LR"(A="x y")", LR"(B=C:\z\)", LR"(D="")", LR"(E="say ""hi""")"}),
            SplitInstallerText(L"  /qb A=\"x y\"\tB=C:\\z\\   D=\"\" E=\"say \"\"hi\"\"\" "));
  EXPECT_TRUE(SplitInstallerText(L"   ").empty());
}

TEST(SetupCommandLine, PropertyValuesLoseTheirQuotes) {
  const auto value = [](const wchar_t* word) {
    const std::optional<InstallerProperty> property = ParseProperty(word);
    return property ? property->name + L"|" + property->value : std::wstring(L"none");
  };
  EXPECT_EQ(LR"(INSTALLDIR|C:\Program Files\Tool\)", value(LR"(INSTALLDIR="C:\Program Files\Tool\")"));
  EXPECT_EQ(L"A|x y", value(LR"(A="x y")"));
  EXPECT_EQ(L"A|", value(LR"(A="")"));
  EXPECT_EQ(L"A|", value(L"A="));
  EXPECT_EQ(L"A|say \"hi\"", value(LR"(A="say ""hi""")"));
  EXPECT_EQ(L"A|b=c", value(L"A=b=c"));
  EXPECT_EQ(L"none", value(L"/qb"));
  EXPECT_EQ(L"none", value(L"=x"));
  EXPECT_EQ(L"none", value(L"NOVALUE"));
  EXPECT_EQ(L"none", value(LR"("A"=1)"));
}

TEST(SetupCommandLine, MsiexecGetsThePackageAndTheInstallerWordsAsWritten) {
  const SetupRequest request = Parse(kUpdateLine);
  const std::wstring line =
      MsiexecCommandLine(LR"(C:\windows\system32\msiexec.exe)", LR"(C:\Cache dir\p.msi)", request.installerWords);
  EXPECT_EQ(std::wstring(LR"("C:\windows\system32\msiexec.exe" /i "C:\Cache dir\p.msi" )") + kUpdateText, line);
  // Read back as msiexec reads it, the location is whole again.
  const std::vector<std::wstring> words = SplitInstallerText(line);
  ASSERT_FALSE(words.empty());
  EXPECT_EQ(LR"(INSTALLDIR|C:\Program Files\Tool\)",
            ParseProperty(words.back())->name + L"|" + ParseProperty(words.back())->value);

  EXPECT_EQ(LR"("m.exe" /i "p.msi" NoSetupFromWeb=1 AFFILIATE_ID=ab-12_7)",
            MsiexecCommandLine(L"m.exe", L"p.msi", Parse(kAffiliateLine).installerWords));
}

// --- The payload file -------------------------------------------------------------

TEST(SetupPayload, ReadsItsKeysSkipsCommentsAndIgnoresUnknownOnes) {
  Payload payload;
  std::wstring error;
  const std::string text =
      "\xEF\xBB\xBF# what this setup does\r\n"
      "\r\n"
      "  EXIT = 1155 , 0\r\n"
      "copy=files/new \xC3\xA4\r\n"
      "target=C:\\Fallback\n"
      "msi=package.msi\n"
      "colour=blue\n"
      "   # indented comment\n"
      "msi=other.msi\n"
      "tamper= setup.exe , ,sub/x.txt";
  ASSERT_TRUE(ParsePayload(text, payload, error)) << error;
  EXPECT_EQ((std::vector<std::wstring>{L"setup.exe", L"sub/x.txt"}), payload.tamper);
  EXPECT_EQ((std::vector<unsigned long>{1155, 0}), payload.exitCodes);
  EXPECT_EQ(L"files/new \u00e4", payload.copy);
  EXPECT_EQ(LR"(C:\Fallback)", payload.target);
  EXPECT_EQ(L"other.msi", payload.msi);

  ASSERT_TRUE(ParsePayload("", payload, error));
  EXPECT_TRUE(payload.exitCodes.empty());
  EXPECT_TRUE(payload.copy.empty() && payload.target.empty() && payload.msi.empty());
}

TEST(SetupPayload, RefusesLinesWithoutEqualsAndBadExitLists) {
  for (const char* text : {"exit=1155,\n", "exit=\n", "exit=12a\n", "exit=-1\n", "exit=4294967296\n", "exit=0,,1\n",
                           "copy=x\njust words\n"}) {
    Payload payload;
    std::wstring error;
    EXPECT_FALSE(ParsePayload(text, payload, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  Payload payload;
  std::wstring error;
  ASSERT_TRUE(ParsePayload("exit=4294967295\n", payload, error)) << error;
  EXPECT_EQ((std::vector<unsigned long>{4294967295ul}), payload.exitCodes);
}

TEST(SetupPayload, EachRunHasItsCodeAndTheLastRepeats) {
  const std::vector<unsigned long> codes = {1155, 3010, 0};
  EXPECT_EQ(1155ul, ExitCodeForRun(codes, 1));
  EXPECT_EQ(3010ul, ExitCodeForRun(codes, 2));
  EXPECT_EQ(0ul, ExitCodeForRun(codes, 3));
  EXPECT_EQ(0ul, ExitCodeForRun(codes, 40));
  EXPECT_EQ(1603ul, ExitCodeForRun({1603}, 7));
  EXPECT_EQ(std::nullopt, ExitCodeForRun({}, 1));
}

TEST(SetupPayload, PathsAreRelativeToTheSetupsFolderUnlessAbsolute) {
  EXPECT_EQ(LR"(C:\Cache\files\new)", ResolvePayloadPath(LR"(C:\Cache)", L"files/new"));
  EXPECT_EQ(LR"(C:\Cache\p.msi)", ResolvePayloadPath(LR"(C:\Cache\)", L"p.msi"));
  EXPECT_EQ(LR"(D:\elsewhere\p.msi)", ResolvePayloadPath(LR"(C:\Cache)", LR"(D:\elsewhere\p.msi)"));
  EXPECT_EQ(LR"(\\server\share\p.msi)", ResolvePayloadPath(LR"(C:\Cache)", L"//server/share/p.msi"));
}

// --- The real setup.exe -----------------------------------------------------------

std::wstring BinFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
      }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  ::RemoveDirectoryW(folder.c_str());
}

void WriteText(const std::wstring& path, const std::string& data) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << ::GetLastError();
  DWORD written = 0;
  EXPECT_TRUE(::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
  ::CloseHandle(file);
}

// Nothing when the file cannot be opened.
std::optional<std::string> ReadText(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string data;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) data.append(buffer, read);
  ::CloseHandle(file);
  return data;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A cache folder of its own with a copy of setup.exe, under a scratch folder
// whose name is not plain ASCII, so that the record's UTF-8 is put to the test.
class SetupStandIn : public testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    scratch_ = std::wstring(temp) + L"vlrn setup \u00e4\u65e5 " + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               std::to_wstring(++counter);
    RemoveTree(scratch_);
    cache_ = scratch_ + L"\\Cache";
    ASSERT_TRUE(::CreateDirectoryW(scratch_.c_str(), nullptr)) << ::GetLastError();
    ASSERT_TRUE(::CreateDirectoryW(cache_.c_str(), nullptr)) << ::GetLastError();
    ASSERT_TRUE(::CopyFileW((BinFolder() + L"setup.exe").c_str(), (cache_ + L"\\setup.exe").c_str(), TRUE))
        << "setup.exe beside the test program: " << ::GetLastError();
    // The record goes beside the setup unless a test names a file.
    ::SetEnvironmentVariableW(L"VLRN_SETUP_RECORD", nullptr);
  }
  void TearDown() override {
    ::SetEnvironmentVariableW(L"VLRN_SETUP_RECORD", nullptr);
    RemoveTree(scratch_);
  }

  // The updater's update line for this cache folder and the given location.
  std::wstring UpdateLine(const std::wstring& ui, const std::wstring& properties, const std::wstring& location) const {
    return L"\"" + cache_ + L"\\\\Setup.exe\" /s /NoSetupFromWeb /v\"" + ui + L" " + properties + L" INSTALLDIR=\\\"" +
           location + L"\\\\\\\"\"";
  }
  std::wstring InstallLine(const std::wstring& affiliate) const {
    std::wstring line = L"\"" + cache_ + L"\\setup.exe\" /v\"NoSetupFromWeb=\"1\"\"";
    if (!affiliate.empty()) line += L" /v\"AFFILIATE_ID=\"" + affiliate + L"\"\"";
    return line;
  }

  // Started as the updater starts it: the command line alone names the program.
  DWORD Run(std::wstring commandLine) const {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
      ADD_FAILURE() << "cannot start the setup: " << ::GetLastError();
      return 0xFFFFFFFF;
    }
    ::CloseHandle(process.hThread);
    const DWORD wait = ::WaitForSingleObject(process.hProcess, 90000);
    DWORD code = 0xFFFFFFFF;
    ::GetExitCodeProcess(process.hProcess, &code);
    if (wait != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the setup did not end";
      ::TerminateProcess(process.hProcess, 1);
    }
    ::CloseHandle(process.hProcess);
    return code;
  }

  void WritePayload(const std::string& text) const { WriteText(cache_ + L"\\setup-payload.ini", text); }

  std::wstring scratch_;
  std::wstring cache_;
};

TEST_F(SetupStandIn, RecordsEachCommandLineBesideItselfInUtf8) {
  const std::wstring update = UpdateLine(L"/qb",
                                         L"REINSTALL=ALL REINSTALLMODE=vamus REBOOT=ReallySuppress "
                                         L"ADDLOCAL=ALL ADDSOURCE=Help",
                                         LR"(C:\Program Files\Tool)");
  std::wstring rerun = update;
  rerun.erase(rerun.find(L"/NoSetupFromWeb "), 16);
  EXPECT_EQ(0u, Run(update));
  EXPECT_EQ(0u, Run(rerun));
  EXPECT_EQ(WideToUtf8(update) + "\r\n" + WideToUtf8(rerun) + "\r\n", ReadText(cache_ + L"\\setup-record.txt"));
  EXPECT_NE(std::string::npos, WideToUtf8(update).find("\xC3\xA4\xE6\x97\xA5"));  // the folder's name, as UTF-8
  EXPECT_FALSE(Exists(cache_ + L"\\setup-runs.txt"));                             // nothing to count without a payload
}

TEST_F(SetupStandIn, RecordsIntoTheFileTheEnvironmentNames) {
  const std::wstring record = scratch_ + L"\\elsewhere.txt";
  WriteText(record, "earlier line\r\n");
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VLRN_SETUP_RECORD", record.c_str()));
  EXPECT_EQ(0u, Run(InstallLine(L"")));
  EXPECT_EQ(0u, Run(InstallLine(L"ab-12_7")));
  EXPECT_EQ("earlier line\r\n" + WideToUtf8(InstallLine(L"")) + "\r\n" + WideToUtf8(InstallLine(L"ab-12_7")) + "\r\n",
            ReadText(record));
  EXPECT_FALSE(Exists(cache_ + L"\\setup-record.txt"));

  // Empty is the same as unset.
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VLRN_SETUP_RECORD", L""));
  EXPECT_EQ(0u, Run(InstallLine(L"")));
  EXPECT_EQ(WideToUtf8(InstallLine(L"")) + "\r\n", ReadText(cache_ + L"\\setup-record.txt"));
}

TEST_F(SetupStandIn, AnswersEachRunWithItsExitCode) {
  WritePayload("# asks to be run again once\nexit=1155,0\n");
  const std::wstring update = UpdateLine(L"/qn", L"REINSTALLMODE=amus", LR"(C:\Program Files\Tool)");
  EXPECT_EQ(1155u, Run(update));
  EXPECT_EQ(0u, Run(update));
  EXPECT_EQ(0u, Run(update));
  EXPECT_EQ("3\r\n", ReadText(cache_ + L"\\setup-runs.txt"));

  // Codes beyond a byte arrive whole.
  ASSERT_TRUE(::DeleteFileW((cache_ + L"\\setup-runs.txt").c_str()));
  WritePayload("exit=3010,1641,70000\n");
  EXPECT_EQ(3010u, Run(update));
  EXPECT_EQ(1641u, Run(update));
  EXPECT_EQ(70000u, Run(update));
  EXPECT_EQ(70000u, Run(update));
}

TEST_F(SetupStandIn, WithoutExitKeyOrBadPayload) {
  WritePayload("colour=blue\n");
  EXPECT_EQ(0u, Run(InstallLine(L"")));
  WritePayload("exit=zero\n");
  EXPECT_EQ(87u, Run(InstallLine(L"")));
  // Still recorded, both times.
  const std::string line = WideToUtf8(InstallLine(L"")) + "\r\n";
  EXPECT_EQ(line + line, ReadText(cache_ + L"\\setup-record.txt"));
}

TEST_F(SetupStandIn, CopiesIntoInstallDirReplacingFiles) {
  ASSERT_TRUE(::CreateDirectoryW((cache_ + L"\\new files").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((cache_ + L"\\new files\\sub").c_str(), nullptr));
  WriteText(cache_ + L"\\new files\\Tool.dll", "new tool");
  WriteText(cache_ + L"\\new files\\sub\\data.txt", "new data");

  const std::wstring location = scratch_ + L"\\Program Files\\Tool";
  ASSERT_TRUE(::CreateDirectoryW((scratch_ + L"\\Program Files").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(location.c_str(), nullptr));
  WriteText(location + L"\\Tool.dll", "old tool");
  WriteText(location + L"\\kept.txt", "kept");
  ASSERT_TRUE(::SetFileAttributesW((location + L"\\Tool.dll").c_str(), FILE_ATTRIBUTE_READONLY));

  WritePayload("copy=new files\ntarget=" + WideToUtf8(scratch_) + "\\not used\n");
  EXPECT_EQ(0u, Run(UpdateLine(L"/qb", L"REINSTALL=ALL REINSTALLMODE=vamus", location)));
  EXPECT_EQ("new tool", ReadText(location + L"\\Tool.dll"));
  EXPECT_EQ("new data", ReadText(location + L"\\sub\\data.txt"));
  EXPECT_EQ("kept", ReadText(location + L"\\kept.txt"));
  EXPECT_FALSE(Exists(scratch_ + L"\\not used"));
}

TEST_F(SetupStandIn, CopiesIntoTheTargetWithoutInstallDir) {
  ASSERT_TRUE(::CreateDirectoryW((cache_ + L"\\payload").c_str(), nullptr));
  WriteText(cache_ + L"\\payload\\Tool.exe", "installed");
  const std::wstring target = scratch_ + L"\\Fresh\\Tool";  // made as needed
  WritePayload("copy=payload\ntarget=" + WideToUtf8(target) + "\nexit=32\n");
  EXPECT_EQ(32u, Run(InstallLine(L"x1")));
  EXPECT_EQ("installed", ReadText(target + L"\\Tool.exe"));
}

TEST_F(SetupStandIn, FailedCopyAnswers1603WhateverExitSays) {
  WritePayload("exit=0\ncopy=missing folder\n");
  EXPECT_EQ(1603u, Run(UpdateLine(L"/qn", L"REINSTALL=ALL", scratch_ + L"\\Tool")));

  // Nowhere to copy to.
  ASSERT_TRUE(::CreateDirectoryW((cache_ + L"\\payload").c_str(), nullptr));
  WriteText(cache_ + L"\\payload\\a.txt", "a");
  WritePayload("exit=0\ncopy=payload\n");
  EXPECT_EQ(1603u, Run(InstallLine(L"")));
}

// --- A real package through msiexec -----------------------------------------------

constexpr wchar_t kPackageCode[] = L"{3F6C2B84-91D7-4E2A-B5C0-7A1E9D4F6B31}";
constexpr wchar_t kPackageKey[] = L"Software\\VLRenova Tests\\Setup Stand-in";

std::optional<std::wstring> PackageValue(const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD size = sizeof value;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kPackageKey, name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, value,
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(value);
}

DWORD RunMsiexec(const std::wstring& arguments) {
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring msiexec = std::wstring(system, length) + L"\\msiexec.exe";
  std::wstring line = L"\"" + msiexec + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(msiexec.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return ::GetLastError();
  }
  ::CloseHandle(process.hThread);
  ::WaitForSingleObject(process.hProcess, 90000);
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  return code;
}

// The updater's tests hold this lock while they search the uninstall key; the
// package's entry must not come and go meanwhile. Held from before the
// package is installed until it is removed again.
class SetupStandInPackage : public SetupStandIn {
 protected:
  void SetUp() override {
    lock_ = ::CreateMutexW(nullptr, FALSE, L"VLRenovaTests uninstall key");
    ASSERT_NE(nullptr, lock_) << ::GetLastError();
    const DWORD wait = ::WaitForSingleObject(lock_, INFINITE);
    ASSERT_TRUE(wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) << wait;
    held_ = true;
    SetupStandIn::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(
        ::CopyFileW((BinFolder() + L"setup_test_package.msi").c_str(), (cache_ + L"\\package.msi").c_str(), TRUE))
        << "the package beside the test program: " << ::GetLastError();
    if (::MsiQueryProductStateW(kPackageCode) != INSTALLSTATE_UNKNOWN)
      RunMsiexec(std::wstring(L"/x ") + kPackageCode + L" /qn");
    ASSERT_EQ(INSTALLSTATE_UNKNOWN, ::MsiQueryProductStateW(kPackageCode)) << "an earlier run's package stays";
  }
  void TearDown() override {
    // Wine's installer does not keep the folder a package went to: name it
    // again, or the files stay behind.
    if (::MsiQueryProductStateW(kPackageCode) != INSTALLSTATE_UNKNOWN) {
      std::wstring arguments = std::wstring(L"/x ") + kPackageCode + L" /qn";
      if (!installedTo_.empty()) arguments += L" INSTALLDIR=\"" + installedTo_ + L"\\\"";
      EXPECT_EQ(0u, RunMsiexec(arguments));
    }
    EXPECT_EQ(INSTALLSTATE_UNKNOWN, ::MsiQueryProductStateW(kPackageCode));
    SetupStandIn::TearDown();
    if (held_) ::ReleaseMutex(lock_);
    if (lock_) ::CloseHandle(lock_);
  }

  HANDLE lock_ = nullptr;
  bool held_ = false;
  std::wstring installedTo_;
};

TEST_F(SetupStandInPackage, UpdateLineInstallsIntoInstallDirAndReinstallRestoresFiles) {
  WritePayload("msi=package.msi\n");
  const std::wstring location = scratch_ + L"\\Program Files\\Tool";
  installedTo_ = location;
  // The first installation, quiet, then the update as the updater words it.
  ASSERT_EQ(0u, Run(UpdateLine(L"/qn", L"REBOOT=ReallySuppress", location)));
  EXPECT_EQ(INSTALLSTATE_DEFAULT, ::MsiQueryProductStateW(kPackageCode));
  EXPECT_EQ(location + L"\\", PackageValue(L"INSTALLDIR"));
  EXPECT_EQ(L"2", PackageValue(L"UILevel"));  // /qn
  const std::optional<std::string> original = ReadText(location + L"\\main.txt");
  ASSERT_TRUE(original.has_value());
  EXPECT_NE(std::string::npos, original->find("VLRenova Setup Stand-in Test"));

  WriteText(location + L"\\main.txt", "changed since");
  ASSERT_TRUE(::DeleteFileW((location + L"\\help.txt").c_str()));
  EXPECT_EQ(0u, Run(UpdateLine(L"/qb",
                               L"REINSTALL=ALL REINSTALLMODE=vamus REBOOT=ReallySuppress ADDLOCAL=ALL "
                               L"ADDSOURCE=Help",
                               location)));
  EXPECT_EQ(INSTALLSTATE_DEFAULT, ::MsiQueryProductStateW(kPackageCode));
  EXPECT_EQ(original, ReadText(location + L"\\main.txt"));
  EXPECT_EQ(original, ReadText(location + L"\\help.txt"));
  EXPECT_EQ(L"3", PackageValue(L"UILevel"));  // /qb, with no display but the null driver
}

TEST_F(SetupStandInPackage, InstallationLinePassesItsPropertiesOn) {
  WritePayload("msi=package.msi\n");
  EXPECT_EQ(0u, Run(InstallLine(L"ab-12_7")));
  EXPECT_EQ(INSTALLSTATE_DEFAULT, ::MsiQueryProductStateW(kPackageCode));
  EXPECT_EQ(L"ab-12_7", PackageValue(L"AFFILIATE_ID"));
  // One of the two spellings, depending on the installer (see the package).
  const std::optional<std::wstring> asWritten = PackageValue(L"NoSetupFromWeb");
  const std::optional<std::wstring> upper = PackageValue(L"NoSetupFromWeb upper");
  EXPECT_TRUE(asWritten == L"1" || upper == L"1") << "NoSetupFromWeb did not reach the installer";
}

TEST_F(SetupStandInPackage, MsiexecsExitCodeUnlessExitIsGiven) {
  // Whatever msiexec says to a missing package (Wine 8 answers 2, not 1619), the setup says too.
  const DWORD direct = RunMsiexec(L"/i \"" + cache_ + L"\\no such package.msi\" /qn REINSTALL=ALL");
  EXPECT_NE(0u, direct);
  EXPECT_NE(1603u, direct);
  const std::wstring update = UpdateLine(L"/qn", L"REINSTALL=ALL", scratch_ + L"\\Tool");
  WritePayload("msi=no such package.msi\n");
  EXPECT_EQ(direct, Run(update));
  WritePayload("msi=no such package.msi\nexit=0\n");
  EXPECT_EQ(0u, Run(update));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, ::MsiQueryProductStateW(kPackageCode));
}

}  // namespace
