// The fault matrix: whole silent update runs of the real updater, each with
// one fault provoked for real (a port nobody listens on, the reference
// service's faults, a folder held open, a setup's exit code, an updater ended
// from outside, a second updater). Each row checks how the run ends, what it
// leaves in the registry and the log, which reports the service received, and
// that no file is lost or half-written.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

#include "actions/action_base.h"
#include "app/single_instance.h"
#include "system/registry.h"
#include "texts/text_table.h"
#include "update_run_test.h"
#include "win/unique_handle.h"

using namespace testing_support;

namespace {

// The registry values the updater writes for the product.
constexpr wchar_t kUpdateResult[] = L"UpdateResult";
constexpr wchar_t kUpdateResultString[] = L"UpdateResultString";
constexpr wchar_t kLastUpdateCheck[] = L"LastUpdateCheck";
constexpr int kLanguage = 1033;  // the fixture's switches name it
constexpr wchar_t kSilentUpdate[] = L"-UpdateSilent -WriteCheckResultToReg";
constexpr char kOldProgram[] = "1.0.0";
constexpr char kNewProgram[] = "2.0.0";
constexpr int kUpdateId = 50;  // the fixture's instructions carry it
constexpr int kNoUpdateId = 0;
constexpr DWORD kKilledExitCode = 0xDEAD;    // what ChildProcess::Kill ends a child with
constexpr DWORD kEndedByAnotherUpdater = 0;  // a later updater ends an earlier silent one so
constexpr DWORD kRefused = 1;
constexpr DWORD kNoExitCode = ~0u;  // still running at the time-out
// The setup stand-in counts its runs in this file beside itself.
constexpr wchar_t kSetupRunCounter[] = L"setup-runs.txt";
// A port of the loopback address that nothing listens on.
constexpr uint16_t kDeadPort = 1;

// The report statuses the service hears; a failed action also reports its type id.
constexpr char kStatusTag[] = "<Status>";
constexpr int kStarted = -1;
constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kCanceled = 2;
constexpr int kServerNotReachable = 5;

// The files below folder, relative to it, sorted.
std::vector<std::wstring> FilesBelow(const std::wstring& folder) {
  std::vector<std::wstring> files;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) files.push_back(it->path().wstring().substr(folder.size()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A log line starts with its stamp and level: "09.12.2026 14:48:34:950 INF: ".
const std::regex& LineHead() {
  static const std::regex head(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d:\d{3} +[A-Z]{3}: )");
  return head;
}

// A log that an abrupt end left behind: every line is whole, so no line holds
// the start of another, and the text ends with a line end.
void ExpectWholeLines(const std::string& log) {
  ASSERT_FALSE(log.empty());
  EXPECT_TRUE(log.ends_with("\r\n")) << "the last line is cut: "
                                     << log.substr(log.size() - std::min<size_t>(80, log.size()));
  EXPECT_EQ(log.find('\0'), std::string::npos) << "the log holds zero bytes";
  for (const std::string& line : Lines(log)) {
    std::smatch found;
    if (std::regex_search(line, found, LineHead()) && found.position(0) != 0) {
      ADD_FAILURE() << "a line cut short runs into the next: " << line;
    }
  }
}

// Holds a file or folder open as another program would, without letting it be
// deleted or written.
class HeldOpen {
 public:
  explicit HeldOpen(const std::wstring& path)
      : handle_(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
  bool held() const { return handle_.valid(); }
  void Release() { handle_.reset(); }

 private:
  win::UniqueFile handle_;
};

// A second installed product beside the fixture's, with a scope, files and
// folders of its own, offered the same update by the same service.
class OtherProduct {
 public:
  explicit OtherProduct(uint16_t port) : port_(port), scope_(NewScope()), files_(scope_) {
    product_.ProgramName = UniqueName(L"Other");
    product_.ProgramVersion = L"1.0.0";
    ready_ = GetProductCacheFolder(folder_, product_, true) && files_.Copy(L"setup.exe", BinFolder() + L"setup.exe") &&
             files_.Write(L"setup-payload.ini", "copy=new\r\nexit=0\r\n") &&
             files_.Write(L"new\\program.txt", kNewProgram);
    installed_.WriteFile(L"program.txt", kOldProgram);
    machine_.emplace(HKEY_LOCAL_MACHINE, GetProductSettingsKey(product_));
  }
  ~OtherProduct() {
    if (!folder_.empty()) DeleteDirectoryTree(folder_, true);
  }
  OtherProduct(const OtherProduct&) = delete;
  OtherProduct& operator=(const OtherProduct&) = delete;

  bool ready() const { return ready_; }
  const ProgramInfos& product() const { return product_; }
  std::string SetupFiles() const {
    return File(L"setup.exe", "") + File(L"setup-payload.ini", "") + File(L"new\\program.txt", "new");
  }
  void Serve(const std::string& instruction) {
    served_.emplace(product_.ProgramName, ServiceBaseUrl(L"https", port_, scope_, L"text=" + Base64Url(instruction)));
  }
  std::wstring Switches(const std::wstring& extra) const {
    const std::wstring folder = installed_.path().substr(0, installed_.path().size() - 1);
    const std::wstring name = L"-ProgramName \"" + product_.ProgramName + L"\"";
    return name + L" -ProgramVersion 1.0.0 -Language 1033 -InstalledLocation \"" + folder + L"\" " + extra;
  }
  std::string Program() const { return ReadFileBytes(installed_.path() + L"program.txt"); }
  int ReportCount() const {
    int count = 0;
    for (int i = 0; i < RecordCount(port_, scope_); ++i) {
      if (RecordField(port_, scope_, i, "method") == "ReportUpdateStatus") ++count;
    }
    return count;
  }

 private:
  std::string File(const std::wstring& name, const std::string& relative) const {
    return "<File Url=\"" + files_.Url("https", port_, name) + "\" RelativeTargetFolder=\"" + relative +
           "\" FileName=\"" + Narrow(name.substr(name.find_last_of(L"\\") + 1)) + "\"/>";
  }

  uint16_t port_;
  std::wstring scope_;
  ServedFiles files_;
  ProgramInfos product_;
  std::wstring folder_;
  ScratchFolder installed_;
  std::optional<ServedProduct> served_;
  std::optional<RegTreeGuard> machine_;
  bool ready_ = false;
};

class FaultMatrixTest : public UpdateRunTest {
 protected:
  // A silent run whose check result the registry keeps. The time of an
  // earlier check goes first, so that what is read afterwards is this run's.
  std::optional<DWORD> RunUpdate() {
    EXPECT_TRUE(DeleteMachineValue(GetVersionSettingsKey(product_), kLastUpdateCheck));
    const std::optional<DWORD> code = RunWorker(Switches(kSilentUpdate), kTimeoutMs);
    if (!code) ADD_FAILURE() << "the run did not end; its log ends with:\n" << LastLines(Log());
    return code;
  }

  // A served file whose requests meet faults, on port (the main one when 0).
  std::string FaultyFile(const std::wstring& name, const std::wstring& faults, uint16_t port = 0,
                         const std::string& attributes = "", const char* scheme = "https") const {
    return "<File Url=\"" + files_->Url(scheme, port != 0 ? port : ports_.main, name, faults) +
           "\" RelativeTargetFolder=\"\" FileName=\"" + Narrow(name) + "\"" + attributes + "/>";
  }
  // The setup's files with the setup itself last, served with faults; all of
  // them over scheme.
  std::string SetupFilesWithFaultySetup(const std::wstring& faults, uint16_t port = 0,
                                        const std::string& attributes = "", const char* scheme = "https") const {
    return File(L"setup-payload.ini", L"", "", scheme) + File(L"new\\program.txt", L"new", "", scheme) +
           FaultyFile(L"setup.exe", faults, port, attributes, scheme);
  }

  // The statuses of the reports the service received, sorted: every report a
  // run makes must arrive, and no other. Each names the update it is about.
  void ExpectReports(std::vector<int> expected, int updateId = kUpdateId) const {
    std::vector<int> statuses;
    for (const std::string& report : StatusReports()) {
      const size_t at = report.find(kStatusTag);
      if (at == std::string::npos) {
        ADD_FAILURE() << "a report without status: " << report;
        continue;
      }
      const char* number = report.c_str() + at + std::size(kStatusTag) - 1;
      statuses.push_back(static_cast<int>(std::strtol(number, nullptr, 10)));
      // A check that got no answer has no update to name.
      const std::string id =
          updateId == kNoUpdateId ? "<UpdateId/>" : "<UpdateId>" + std::to_string(updateId) + "</UpdateId>";
      EXPECT_TRUE(Contains(report, id)) << report;
    }
    std::sort(statuses.begin(), statuses.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(statuses, expected);
  }

  // What the check left for the product in both of its keys, and the time of
  // the check, which is written whenever the machine is online.
  void ExpectCheckResult(DWORD value, int text) const {
    for (const std::wstring& key : {GetProductSettingsKey(product_), GetVersionSettingsKey(product_)}) {
      SCOPED_TRACE(Narrow(key));
      EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, key, kUpdateResult), value);
      EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key, kUpdateResultString), GetText(text, kLanguage));
    }
    EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, GetVersionSettingsKey(product_), kLastUpdateCheck).has_value());
  }
  void ExpectUpdateOffered() const { ExpectCheckResult(1, kTextUpdateAvailable); }
  void ExpectServerUnreachable() const { ExpectCheckResult(0, kTextServerMaintenance); }

  // Nothing lost or half-written: the product's folder holds its files, all
  // of them in one version, and every file in the cache folder is a whole
  // copy of the file served under its name.
  void ExpectNothingHalfWritten(const char* version) const {
    EXPECT_EQ(FilesBelow(installed_.path()), installedFiles_);
    for (const std::wstring& file : installedFiles_) {
      EXPECT_EQ(ReadFileBytes(installed_.path() + file), version) << Narrow(file);
    }
    for (const std::wstring& file : FilesBelow(cache_)) {
      // A download ended half-way stays under its ".part" name, which nothing
      // takes for the file; the next download clears it with the folder.
      if (file == kSetupRunCounter || file.ends_with(L".part")) continue;
      SCOPED_TRACE(Narrow(file));
      ASSERT_TRUE(PathExists(files_->folder() + file)) << "the cache folder holds a file nobody served";
      EXPECT_EQ(ReadFileBytes(cache_ + file), ReadFileBytes(files_->folder() + file));
    }
  }

  void ExpectLogged(const std::string& line) const {
    EXPECT_TRUE(Contains(Log(), line)) << line << " in:\n" << LastLines(Log());
  }

  // The installed product's files, sorted; each holds the product's version.
  std::vector<std::wstring> installedFiles_ = {L"program.txt"};

  // The product's event, held by the updater that serves it.
  bool InstanceEventExists() const {
    ProgramInfos labels = product_;
    labels.DisplayNameForLabels = product_.ProgramName;
    const win::UniqueEvent event(::OpenEventW(SYNCHRONIZE, FALSE, InstanceEventName(labels).c_str()));
    return event.valid();
  }

  // Waits until the service has received a request for the served file.
  bool WaitForRequest(const std::wstring& servedName) const {
    const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
    while (Requests(servedName) == 0) {
      if (::GetTickCount64() > deadline) return false;
      ::Sleep(50);
    }
    return true;
  }
};

}  // namespace

// Faults of the update check itself: the run ends with 1 before anything is
// downloaded, and the product reads that the server could not be reached.
TEST_F(FaultMatrixTest, ACheckThatFailsEndsWithOneAndDownloadsNothing) {
  const struct {
    const char* name;
    std::wstring faults;  // of the check's answer
    uint16_t port;
    std::vector<int> reports;
  } cases[] = {
      // Nothing listens: no report can arrive either.
      {"server down", L"", kDeadPort, {}},
      {"HTTP 500", L"status=500", 0, {kServerNotReachable}},
      {"a body cut mid-answer", L"truncate", 0, {kServerNotReachable}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scope_ = NewScope();
    files_.emplace(scope_);
    ServeSetup("0");
    Serve(UpdateInstruction(/*majorUpgrade=*/false, SetupFiles()), c.faults, L"https", c.port);
    EXPECT_EQ(RunUpdate(), 1u);
    ExpectServerUnreachable();
    ExpectReports(c.reports, kNoUpdateId);
    EXPECT_EQ(Requests(L"setup.exe") + Requests(L"setup-payload.ini") + Requests(L"program.txt"), 0);
    EXPECT_TRUE(SetupRuns().empty());
    EXPECT_TRUE(FilesBelow(cache_).empty());
    ExpectNothingHalfWritten(kOldProgram);
    ExpectLogged("ExitCode 1\r\n");
  }
}

// Faults of one download, the setup's: the run ends with 9 and reports the
// failed download; what arrived before stays whole, the failed file is not
// left behind, and nothing runs.
TEST_F(FaultMatrixTest, ADownloadThatFailsEndsWithNineAndLeavesNoPartOfTheFile) {
  const struct {
    const char* name;
    std::wstring faults;  // of the setup's download
    uint16_t port;
    bool promisesAByteMore;  // the instruction's Size, against the served file's
    std::string line;
    const char* scheme = "https";
  } cases[] = {
      {"server down", L"", kDeadPort, false, "Download failed  https://localhost:1/"},
      {"HTTP 500", L"status=500", 0, false, "with status 500"},
      {"the connection dropped before the answer", L"drop", 0, false, "without an answer"},
      // Over TLS a reset mid-body can leave Wine's download waiting for good
      // (there is no time limit on a download), so this one goes without.
      {"the connection reset mid-body", L"reset", 0, false, "Download failed  ", "http"},
      {"fewer bytes than Content-Length", L"truncate", 0, false, "The server sent "},
      {"a Size larger than the file", L"", 0, true, "bytes, got "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scope_ = NewScope();
    files_.emplace(scope_);
    DeleteDirectoryTree(productFolder_, true);
    ServeSetup("0");
    std::string attributes;
    if (c.promisesAByteMore) {
      attributes = " Size=\"" + std::to_string(ReadFileBytes(files_->folder() + L"setup.exe").size() + 1) + "\"";
    }
    ServeUpdate(/*majorUpgrade=*/false, SetupFilesWithFaultySetup(c.faults, c.port, attributes, c.scheme));
    EXPECT_EQ(RunUpdate(), 9u);
    ExpectUpdateOffered();
    ExpectReports({kStarted, kActionDownload, kFailed});
    EXPECT_FALSE(PathExists(cache_ + L"setup.exe"));
    EXPECT_TRUE(PathExists(cache_ + L"setup-payload.ini"));
    EXPECT_TRUE(SetupRuns().empty());
    ExpectNothingHalfWritten(kOldProgram);
    ExpectLogged(c.line);
    ExpectLogged("ExitCode 9\r\n");
  }
}

// The service's port with a certificate from an authority nobody trusts: the
// check, the downloads and the reports all go over plain HTTP instead.
TEST_F(FaultMatrixTest, ATlsFailureFallsBackToHttpForTheWholeRun) {
  ServeSetup("0");
  const auto file = [&](const std::wstring& name, const std::wstring& relative) {
    return "<File Url=\"" + files_->Url("https", ports_.untrusted, name) + "\" RelativeTargetFolder=\"" +
           Narrow(relative) + "\" FileName=\"" + Narrow(name.substr(name.find_last_of(L"\\/") + 1)) + "\"/>";
  };
  Serve(UpdateInstruction(/*majorUpgrade=*/false, file(L"setup.exe", L"") + file(L"setup-payload.ini", L"") +
                                                      file(L"new\\program.txt", L"new")),
        L"", L"https", ports_.untrusted);
  EXPECT_EQ(RunUpdate(), 8u);
  ExpectUpdateOffered();
  ExpectReports({kStarted, kSucceeded});
  EXPECT_EQ(SetupRuns().size(), 1u);
  ExpectNothingHalfWritten(kNewProgram);
  int overHttp = 0;
  for (int i = 0; i < RecordCount(ports_.main, scope_); ++i) {
    if (RecordField(ports_.main, scope_, i, "scheme") == "http") ++overHttp;
  }
  // The check, three downloads and two reports.
  EXPECT_GE(overHttp, 6);
  ExpectLogged("Try to connect without SSL: http://localhost:" + std::to_string(ports_.untrusted));
}

// A file in the cache folder that another program holds open: the folder is
// tried three times over ten seconds before the run gives up, and nothing is
// downloaded over it. Let go in time, the run goes on.
TEST_F(FaultMatrixTest, ACacheFolderHeldOpenFailsTheRunOnlyWhileItIsHeld) {
  ServeSetup("0");
  ServeUpdate(/*majorUpgrade=*/false, SetupFiles());
  ASSERT_TRUE(::CreateDirectoryW(cache_.c_str(), nullptr));
  const std::wstring old = cache_ + L"old-setup.exe";
  ASSERT_TRUE(::CopyFileW((BinFolder() + L"setup.exe").c_str(), old.c_str(), FALSE));
  const std::string oldBytes = ReadFileBytes(old);
  {
    HeldOpen held(old);
    ASSERT_TRUE(held.held());
    EXPECT_EQ(RunUpdate(), 9u);
  }
  ExpectUpdateOffered();
  ExpectReports({kStarted, kActionDownload, kFailed});
  ExpectLogged("third time fail to delete update directory");
  EXPECT_EQ(Requests(L"setup.exe") + Requests(L"setup-payload.ini") + Requests(L"program.txt"), 0);
  EXPECT_EQ(ReadFileBytes(old), oldBytes);
  EXPECT_TRUE(SetupRuns().empty());
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), kOldProgram);

  // Let go during the first wait: the second attempt clears the folder.
  scope_ = NewScope();
  ServeUpdate(/*majorUpgrade=*/false, SetupFiles());
  HeldOpen held(old);
  ASSERT_TRUE(held.held());
  ChildProcess worker(WorkerExePath(), Switches(kSilentUpdate));
  ASSERT_TRUE(worker.started());
  ::Sleep(1000);
  held.Release();
  EXPECT_EQ(worker.Wait(kTimeoutMs), 8u);
  ExpectReports({kStarted, kSucceeded});
  EXPECT_FALSE(PathExists(old));
  ExpectNothingHalfWritten(kNewProgram);
}

// An update without a setup copies its files into the product's folder, all
// of them or none. Wine lets a test make no folder read-only (it keeps DACLs
// on files but does not enforce them, and the tests run as root, so mode bits
// do not count either), nor a full one without mounting a file system. What it
// does enforce is sharing: a program file held open against writing fails the
// copy as a read-only one would. Each of the two files is held in turn, so
// that one of them fails after the other would have been replaced.
TEST_F(FaultMatrixTest, AProgramFileThatCantBeReplacedFailsTheCopyAndChangesNothing) {
  installedFiles_ = {L"program.txt", L"readme.txt"};
  for (const wchar_t* heldFile : {L"program.txt", L"readme.txt"}) {
    SCOPED_TRACE(Narrow(heldFile));
    scope_ = NewScope();
    files_.emplace(scope_);
    DeleteDirectoryTree(productFolder_, true);
    for (const std::wstring& file : installedFiles_) {
      installed_.WriteFile(file, kOldProgram);
      ASSERT_TRUE(files_->Write(file, kNewProgram));
    }
    ServeUpdate(/*majorUpgrade=*/false, File(L"program.txt") + File(L"readme.txt"));
    {
      HeldOpen held(installed_.path() + heldFile);
      ASSERT_TRUE(held.held());
      EXPECT_EQ(RunUpdate(), 9u);
    }
    ExpectUpdateOffered();
    ExpectReports({kStarted, kActionProductUpdate, kFailed});
    ExpectNothingHalfWritten(kOldProgram);
    // The downloads stay for the next run.
    EXPECT_EQ(ReadFileBytes(cache_ + heldFile), kNewProgram);
    ExpectLogged("can not copy file " + Narrow(cache_) + Narrow(heldFile) + " because: ");
  }
  // Let go, the next run replaces both.
  EXPECT_EQ(RunUpdate(), 8u);
  ExpectNothingHalfWritten(kNewProgram);
}

// The setup's exit codes, in a minor update, beside the exit codes and runs
// that TheSetupsExitCodeDecidesTheEnd checks: the reports, the registry, and
// what stays in the cache folder.
TEST_F(FaultMatrixTest, TheSetupsExitCodeLeavesTheRightReportsAndAWholeCache) {
  const struct {
    const char* exitCodes;
    DWORD exitCode;
    std::vector<int> reports;
    bool setupStays;  // a setup that did not succeed stays for the next run
  } cases[] = {
      {"1602", 9, {kStarted, kCanceled}, true},
      {"1155,0", 8, {kStarted, kSucceeded}, false},
      {"3010", 8, {kStarted, kSucceeded}, false},
      {"1603", 9, {kStarted, kActionProductUpdate, kFailed}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exitCodes);
    StartAfresh();
    installed_.WriteFile(L"program.txt", kOldProgram);
    ServeSetup(c.exitCodes);
    ServeUpdate(/*majorUpgrade=*/false, SetupFiles());
    EXPECT_EQ(RunUpdate(), c.exitCode);
    ExpectUpdateOffered();
    ExpectReports(c.reports);
    EXPECT_EQ(PathExists(cache_ + L"setup.exe"), c.setupStays);
    // The stand-in copies its payload before it exits with its code.
    ExpectNothingHalfWritten(kNewProgram);
    ExpectLogged("ExitCode " + std::to_string(c.exitCode) + "\r\n");
  }
}

// An updater ended from outside while its download hangs: it leaves no
// event, no half file and no report of an end; the next run clears the cache
// folder and succeeds.
TEST_F(FaultMatrixTest, AnUpdaterKilledDuringADownloadIsFollowedByARunThatSucceeds) {
  ServeSetup("0");
  ServeUpdate(/*majorUpgrade=*/false, SetupFilesWithFaultySetup(L"delay=20"));
  {
    ChildProcess worker(WorkerExePath(), Switches(kSilentUpdate));
    ASSERT_TRUE(worker.started());
    ASSERT_TRUE(WaitForRequest(L"setup.exe"));
    EXPECT_TRUE(InstanceEventExists());
    worker.Kill();
    EXPECT_EQ(worker.Wait(kTimeoutMs), kKilledExitCode);
  }
  EXPECT_FALSE(InstanceEventExists());
  ExpectReports({kStarted});
  EXPECT_FALSE(PathExists(cache_ + L"setup.exe"));
  ExpectNothingHalfWritten(kOldProgram);
  ExpectWholeLines(Log());

  scope_ = NewScope();
  ServeUpdate(/*majorUpgrade=*/false, SetupFiles());
  EXPECT_EQ(RunUpdate(), 8u);
  ExpectReports({kStarted, kSucceeded});
  EXPECT_EQ(SetupRuns().size(), 1u);
  ExpectNothingHalfWritten(kNewProgram);
}

// Ended at different moments of its run, once it has begun to write the
// product's log, the updater leaves a log that reads up to its last whole
// line, and the next run appends to the product's logs. (The updater writes
// text lines only; the record reader has no file of it to read.)
TEST_F(FaultMatrixTest, AnUpdaterKilledWhileLoggingLeavesOnlyWholeLines) {
  ServeSetup("0");
  // Two moments stay out of the kills' reach, as neither is the updater's to
  // guard. The killed runs speak plain HTTP: at a process's first certificate
  // check, Wine's crypt32 imports the root certificates under a named semaphore
  // that a process ended during the import never releases, and every TLS client
  // in the prefix then waits for good (Windows has no such lock). And their
  // setup's download hangs: a process ended inside CreateProcess leaves the new
  // one suspended for good (it is created suspended and resumed just before the
  // call returns), and that setup would hold the cache folder.
  Serve(UpdateInstruction(/*majorUpgrade=*/false, SetupFilesWithFaultySetup(L"delay=20", 0, "", "http")), L"", L"http");
  for (const DWORD afterMs : {0u, 30u, 150u, 400u}) {
    SCOPED_TRACE(afterMs);
    const size_t before = Log().size();
    ChildProcess worker(WorkerExePath(), Switches(kSilentUpdate));
    ASSERT_TRUE(worker.started());
    const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
    while (Log().size() == before && worker.Running() && ::GetTickCount64() < deadline) ::Sleep(5);
    ::Sleep(afterMs);
    worker.Kill();
    ASSERT_TRUE(worker.Wait(kTimeoutMs).has_value());
    ASSERT_GT(Log().size(), before) << "the run ended before it logged";
    ExpectWholeLines(Log());
  }
  // Whatever the killed runs left, the next one starts from a clear cache folder.
  ServeUpdate(/*majorUpgrade=*/false, SetupFiles());
  EXPECT_EQ(RunUpdate(), 8u);
  ExpectWholeLines(Log());
  ExpectLogged("ExitCode 8\r\n");
  ExpectNothingHalfWritten(kNewProgram);
}

// Two silent updaters started at once for one product: the later one either
// is refused or ends the earlier one, so exactly one runs the update.
TEST_F(FaultMatrixTest, TwoUpdatersForOneProductUpdateItOnce) {
  ServeSetup("0");
  // Plain HTTP, and the check's answer comes after 3 s: a loser that is not
  // refused is ended while it waits for it, never at the two moments the test
  // above keeps out of reach, however late the second process starts.
  Serve(UpdateInstruction(/*majorUpgrade=*/false, SetupFiles("http")), L"delay=3", L"http");
  ChildProcess first(WorkerExePath(), Switches(kSilentUpdate));
  ChildProcess second(WorkerExePath(), Switches(kSilentUpdate));
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(second.started());
  const DWORD firstCode = first.Wait(kTimeoutMs).value_or(kNoExitCode);
  const DWORD secondCode = second.Wait(kTimeoutMs).value_or(kNoExitCode);
  const bool firstWon = firstCode == 8;
  EXPECT_NE(firstWon, secondCode == 8) << firstCode << " and " << secondCode;
  const DWORD loserCode = firstWon ? secondCode : firstCode;
  EXPECT_TRUE(loserCode == kRefused || loserCode == kEndedByAnotherUpdater) << loserCode;
  // Both logged, though they started in the same second.
  const std::string log = Log();
  size_t starts = 0;
  for (size_t at = log.find(" started\r\n"); at != std::string::npos; at = log.find(" started\r\n", at + 1)) ++starts;
  EXPECT_EQ(starts, 2u) << LastLines(log);
  if (loserCode == kEndedByAnotherUpdater) {
    ExpectLogged("terminate process: VLRenovaWorker.exe");
  } else {
    // It found the winner's event, before or after the winner had recorded itself.
    EXPECT_TRUE(Contains(log, "Can\xb4t set event") || Contains(log, "but no PID was found")) << LastLines(log);
  }
  EXPECT_EQ(ReadActivePID(product_), firstWon ? first.pid() : second.pid());
  EXPECT_EQ(SetupRuns().size(), 1u);
  // Ended before its check was answered, the loser reported nothing.
  ExpectReports({kStarted, kSucceeded});
  ExpectNothingHalfWritten(kNewProgram);
  EXPECT_FALSE(InstanceEventExists());
}

// Two updaters started at once for two products: neither keeps the other
// from its update.
TEST_F(FaultMatrixTest, TwoUpdatersForTwoProductsBothSucceed) {
  ServeSetup("0");
  ServeUpdate(/*majorUpgrade=*/false, SetupFiles());
  OtherProduct other(ports_.main);
  ASSERT_TRUE(other.ready());
  other.Serve(UpdateInstruction(/*majorUpgrade=*/false, other.SetupFiles()));

  ChildProcess first(WorkerExePath(), Switches(kSilentUpdate));
  ChildProcess second(WorkerExePath(), other.Switches(kSilentUpdate));
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(second.started());
  EXPECT_EQ(first.Wait(kTimeoutMs), 8u);
  EXPECT_EQ(second.Wait(kTimeoutMs), 8u);
  // Both setups write into the one record file.
  EXPECT_EQ(SetupRuns().size(), 2u);
  ExpectReports({kStarted, kSucceeded});
  ExpectNothingHalfWritten(kNewProgram);
  EXPECT_EQ(other.Program(), kNewProgram);
  EXPECT_EQ(other.ReportCount(), 2);
  EXPECT_EQ(ReadActivePID(product_), first.pid());
  EXPECT_EQ(ReadActivePID(other.product()), second.pid());
}
