// The update worker against the reference update service: how each answer
// becomes a check result, what the check leaves in the registry, and the
// installation run with real actions on the real registry.

#include "app/renova_worker.h"

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "actions/download_callback.h"
#include "actions/product_actions.h"
#include "product/product_folders.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "support/log_capture.h"
#include "support/read_only_dacl.h"
#include "support/scratch.h"
#include "support/update_server.h"
#include "system/error_text.h"
#include "system/registry.h"

namespace {

using namespace testing_support;

constexpr DWORD kArrivalLimitMs = 30000;

bool WaitFor(const std::function<bool()>& done, DWORD limitMs = kArrivalLimitMs) {
  const ULONGLONG deadline = ::GetTickCount64() + limitMs;
  while (!done()) {
    if (::GetTickCount64() >= deadline) return done();
    ::Sleep(20);
  }
  return true;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// The connection state of a machine without any network. Wine 8 answers
// "offline" only when no interface but loopback is up (measured in a Linux
// network namespace holding loopback alone); the machine that runs the tests
// has its own interface with a gateway, and the test can't take it away.
BOOL WINAPI Disconnected(LPDWORD flags, DWORD) {
  if (flags != nullptr) *flags = INTERNET_CONNECTION_OFFLINE;
  return FALSE;
}

// A request writer that fails the way a writer of the ClientStatus document
// would report it; none of the real writers has a failing path.
std::unique_ptr<tinyxml2::XMLDocument> FailingRequest(const ProgramInfos&, bool, bool, int32_t* errorCode) {
  if (errorCode != nullptr) *errorCode = 5;
  return nullptr;
}

// A key under HKEY_LOCAL_MACHINE for the instruction's registry actions;
// removed with everything below it.
class MachineKey {
 public:
  MachineKey() : path_(L"Software\\VLRenovaTests\\" + UniqueName(L"worker")) {}
  ~MachineKey() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str()); }
  const std::wstring& path() const { return path_; }
  std::string xmlPath() const { return Narrow(path_); }
  std::optional<DWORD> Dword(const wchar_t* name) const { return ReadRegDword(HKEY_LOCAL_MACHINE, path_, name); }

 private:
  std::wstring path_;
};

using testing_support::ReadOnlyDacl;

// A product of this test's own, published as the process-wide record, whose
// "DebugUrl_v2" points at the test's scope of the update service. Its settings
// (both roots) and its folder under the temporary folder are removed afterwards.
class RenovaWorkerTest : public testing_support::UpdateServerTest {
 protected:
  void SetUp() override {
    UpdateServerTest::SetUp();
    if (HasFatalFailure()) return;
    Publish(0);
    options_.ProgramInfo = GetProgramInfos();
  }

  void TearDown() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, productKey_.c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, productKey_.c_str());
    std::wstring folder;
    if (GetProductCacheFolder(folder, GetProgramInfos(), true)) {
      ::RemoveDirectoryW((folder + L"Cache").c_str());
      ::RemoveDirectoryW(folder.c_str());
    }
  }

  void Publish(int32_t isStubExe, int32_t language = 1033) {
    ProgramInfos working;
    working.ProgramName = L"Renova Worker Test " + scope_;
    SetDisplayName(working, working.ProgramName);
    working.ProgramVersion = L"1.0.0";
    working.InstalledLocation = folder_.path();
    working.Language = language;
    working.IsStubExe = isStubExe;
    ASSERT_TRUE(CompleteProgramInfos(working));
    ASSERT_EQ(GetProgramInfos().IsStubExe, isStubExe);
    productKey_ = GetProductSettingsKey(GetProgramInfos());
    versionKey_ = GetVersionSettingsKey(GetProgramInfos());
  }

  void UseBase(const std::wstring& base) {
    ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, productKey_, L"DebugUrl_v2", base));
  }
  // The service answers every call of this test with exactly this text.
  void Answer(const std::string& text) {
    UseBase(ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url(text)));
  }

  // A fresh worker with the test's switches.
  RenovaWorker& NewWorker() {
    worker_ = std::make_unique<RenovaWorker>();
    worker_->CmdLine = &options_;
    return *worker_;
  }
  WorkerResult Check() { return NewWorker().CheckForUpdate(); }

  // Forgets what an earlier check of this test left behind.
  void ForgetCheck() {
    ClearUpdateResult(GetProgramInfos());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, productKey_.c_str());
  }

  // "LastUpdateCheck" holds the time of a check that ran since `since`.
  ::testing::AssertionResult LastCheckWrittenSince(time_t since) const {
    const auto text = ReadRegString(HKEY_LOCAL_MACHINE, versionKey_, L"LastUpdateCheck");
    if (!text) return ::testing::AssertionFailure() << "no LastUpdateCheck";
    const long long written = std::stoll(*text);
    if (written < since || written > std::time(nullptr)) {
      return ::testing::AssertionFailure() << "LastUpdateCheck " << written << " is not since " << since;
    }
    return ::testing::AssertionSuccess();
  }
  bool LastCheckWritten() const {
    return ReadRegString(HKEY_LOCAL_MACHINE, versionKey_, L"LastUpdateCheck").has_value();
  }

  // What the WriteCheckResultToReg switch left, the same in the product and
  // the version key; nothing when neither key holds it.
  struct Written {
    std::optional<DWORD> value;
    std::optional<std::wstring> text;
  };
  Written WrittenResult() const {
    const Written product{ReadRegDword(HKEY_CURRENT_USER, productKey_, L"UpdateResult"),
                          ReadRegString(HKEY_CURRENT_USER, productKey_, L"UpdateResultString")};
    const Written version{ReadRegDword(HKEY_CURRENT_USER, versionKey_, L"UpdateResult"),
                          ReadRegString(HKEY_CURRENT_USER, versionKey_, L"UpdateResultString")};
    EXPECT_EQ(product.value, version.value);
    EXPECT_EQ(product.text, version.text);
    return product;
  }

  // The UpdateStatus document the service received for this scope, once it came.
  std::optional<std::string> ReceivedUpdateStatus() const {
    std::optional<std::string> xml;
    WaitFor([&] {
      const int count = RecordCount(ports_.main, scope_);
      for (int i = 0; i < count; ++i) {
        if (RecordField(ports_.main, scope_, i, "method") == "ReportUpdateStatus") {
          xml = RecordField(ports_.main, scope_, i, "xml");
          return true;
        }
      }
      return false;
    });
    return xml;
  }

  std::wstring CacheFolder() const {
    std::wstring folder;
    EXPECT_TRUE(GetProductCacheFolder(folder, GetProgramInfos(), true));
    return folder + L"Cache";
  }

  ScratchFolder folder_;
  std::wstring productKey_;
  std::wstring versionKey_;
  CmdLineInfo options_;
  std::unique_ptr<RenovaWorker> worker_;
};

constexpr wchar_t kUpToDateText[] = L"You already have the most recent version.";
constexpr wchar_t kNotAvailableText[] = L"The installation is currently not availible.";
constexpr wchar_t kUpdateText[] =
    L"A more up-to-date program version is available. Would you like to install it now?\n"
    L"Please close all programs before starting the installation!";
constexpr wchar_t kMaintenanceText[] = L"Server is temporarily unavailable during maintenance.";
constexpr wchar_t kErrorText[] = L"Velbor Renova has encountered an error. Please contact the support.";

constexpr char kOfferWithDownload[] =
    "<Instruction><UpdateId>42</UpdateId><NewProductVersion>2.0.0</NewProductVersion>"
    "<Download><File Url=\"http://localhost:1/setup.exe\" RelativeTargetFolder=\"\" FileName=\"setup.exe\"/>"
    "</Download></Instruction>";

TEST_F(RenovaWorkerTest, NoUpdateAnswerIsTakenAsItIsWithoutParsing) {
  // A service without a key answers a product it doesn't know with the plain
  // sentence (the tests' service has keys, so the sentence is asked for).
  UseBase(ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url("No update available!")));
  options_.WriteCheckResultToReg = 1;
  {
    LogCapture log;
    const time_t before = std::time(nullptr);
    const WorkerResult result = Check();
    EXPECT_EQ(result.UpdateResult, RESULT_NO_UPDATE);
    EXPECT_EQ(result.UpdateId, 0);
    EXPECT_EQ(log.CountAt(L"INF", L"Server response = "), 1u);
    EXPECT_EQ(log.CountAt(L"INF", L"No update available!"), 2u) << "the answer and the worker's own line";
    EXPECT_EQ(log.Count(L"loading Instruction.xml"), 0u);
    EXPECT_EQ(log.Count(L"Load and Read Instruction.xml"), 0u);
    EXPECT_TRUE(LastCheckWrittenSince(before));
    const Written written = WrittenResult();
    EXPECT_EQ(written.value, 0u);
    EXPECT_EQ(written.text, kUpToDateText);
    ASSERT_EQ(RecordCount(ports_.main, scope_), 1);
    EXPECT_EQ(RecordField(ports_.main, scope_, 0, "method"), "GetClientUpdate");
  }

  Publish(1);
  ForgetCheck();
  LogCapture log;
  const WorkerResult result = Check();
  EXPECT_EQ(result.UpdateResult, RESULT_NO_INSTALLATION);
  EXPECT_EQ(log.CountAt(L"INF", L"No installation available!"), 1u);
  EXPECT_EQ(log.Count(L"loading Instruction.xml"), 0u);
  EXPECT_FALSE(LastCheckWritten());
  const Written written = WrittenResult();
  EXPECT_EQ(written.value, 0u);
  EXPECT_EQ(written.text, kNotAvailableText);
}

// Each answer once without and once with the WriteCheckResultToReg switch.
TEST_F(RenovaWorkerTest, InstructionsBecomeCheckResultsWithTheirTimeAndRegistryValues) {
  struct Case {
    const char* name;
    int32_t isStubExe;
    std::string instruction;
    UpdateResult result;
    int32_t updateId;
    bool lastCheck;
    std::optional<DWORD> value;  // nothing: no value written
    const wchar_t* text;
    const wchar_t* line;  // the worker's line for the result
  };
  const Case cases[] = {
      {"nothing offered", 0, "<Instruction><UpdateId>0</UpdateId></Instruction>", RESULT_NO_UPDATE, 0, true, 0,
       kUpToDateText, L"No update available!"},
      {"only an upgrade", 0,
       "<Instruction><UpdateId>0</UpdateId><MajorUpgradeProductVersion>6</MajorUpgradeProductVersion></Instruction>",
       RESULT_UPGRADE_ONLY, 0, true, 0, kUpToDateText, L"No update available!"},
      {"an update", 0, kOfferWithDownload, RESULT_UPDATE_AVAILABLE, 42, true, 1, kUpdateText,
       L"Program update is available!"},
      {"an update without files", 0, "<Instruction><UpdateId>43</UpdateId></Instruction>", RESULT_UPDATE_AVAILABLE, 43,
       true, 1, kUpdateText, L"Program update is available!"},
      {"an update and an upgrade", 0,
       "<Instruction><UpdateId>44</UpdateId><MajorUpgradeProductVersion>3</MajorUpgradeProductVersion>"
       "<Download/></Instruction>",
       RESULT_UPDATE_AND_UPGRADE, 44, true, 1, kUpdateText, L"Program update is available!"},
      {"an error with an id", 0,
       "<Instruction><ErrorMessage>Database down</ErrorMessage><UpdateId>45</UpdateId><Download/></Instruction>",
       RESULT_SERVER_ERROR, 45, true, 0, kErrorText, L"ResponseString contains ServerErrorMesage! "},
      {"an error without an id", 0, "<Instruction><ErrorMessage>Database down</ErrorMessage></Instruction>",
       RESULT_SERVER_ERROR, 0, true, 0, kErrorText, L"ResponseString contains ServerErrorMesage! "},
      {"an unsupported system", 0,
       "<Instruction><UpdateId>0</UpdateId><OsNotCompatibleUrl>http://localhost:1/os</OsNotCompatibleUrl>"
       "</Instruction>",
       RESULT_OS_NOT_SUPPORTED, 0, false, std::nullopt, nullptr, nullptr},
      {"an installation", 1, kOfferWithDownload, RESULT_INSTALLATION_AVAILABLE, 42, false, std::nullopt, nullptr,
       L"Program installation is available!"},
      {"no installation", 1, "<Instruction><UpdateId>0</UpdateId></Instruction>", RESULT_NO_INSTALLATION, 0, false, 0,
       kNotAvailableText, L"No installation available!"},
      {"an error in installation mode", 1,
       "<Instruction><ErrorMessage>Database down</ErrorMessage><UpdateId>46</UpdateId></Instruction>",
       RESULT_SERVER_ERROR, 46, false, 0, kErrorText, L"ResponseString contains ServerErrorMesage! "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Publish(c.isStubExe);
    Answer(c.instruction);
    for (const int32_t writeToReg : {0, 1}) {
      ForgetCheck();
      options_.WriteCheckResultToReg = writeToReg;
      LogCapture log;
      const time_t before = std::time(nullptr);
      const WorkerResult result = Check();
      EXPECT_EQ(result.UpdateResult, c.result);
      EXPECT_EQ(result.UpdateId, c.updateId);
      EXPECT_EQ(log.CountAt(L"INF", L"Load and Read Instruction.xml end with result code: "), 1u);
      if (c.line != nullptr) {
        EXPECT_EQ(log.Count(c.line), 1u) << Narrow(c.line);
      }
      if (c.lastCheck) {
        EXPECT_TRUE(LastCheckWrittenSince(before));
      } else {
        EXPECT_FALSE(LastCheckWritten());
      }
      const Written written = WrittenResult();
      if (writeToReg == 0 || !c.value) {
        EXPECT_FALSE(written.value) << *written.value;
        EXPECT_FALSE(written.text);
      } else {
        EXPECT_EQ(written.value, c.value);
        EXPECT_EQ(written.text, c.text);
      }
    }
  }
}

TEST_F(RenovaWorkerTest, OfferFillsTheInstructionAndTheThreeLists) {
  const MachineKey machine;
  Answer(
      "<Instruction><UpdateId>42</UpdateId><NewProductVersion>2.0.0</NewProductVersion>"
      "<Pre><Action Name=\"StopProcess\" FileName=\"nothing.exe\"/>"
      "<Action Name=\"DelRegValue\" Key=\"" +
      machine.xmlPath() +
      "\" Value=\"Old\"/></Pre>"
      "<Download><File Url=\"http://localhost:1/setup.exe\" RelativeTargetFolder=\"\" FileName=\"setup.exe\"/>"
      "</Download>"
      "<Post><Action Name=\"SetRegValue\" Key=\"" +
      machine.xmlPath() +
      "\" Value=\"New\" Type=\"DWORD\""
      " Data=\"1\"/></Post></Instruction>");
  const WorkerResult result = Check();
  EXPECT_EQ(result.UpdateResult, RESULT_UPDATE_AVAILABLE);
  EXPECT_EQ(worker_->Instruction.UpdateId, 42);
  EXPECT_EQ(worker_->Instruction.NewProductVersion, L"2.0.0");
  ASSERT_EQ(worker_->PreActions.size(), 2u);
  EXPECT_EQ(worker_->PreActions[0]->ActionType, 14);
  EXPECT_EQ(worker_->PreActions[1]->ActionType, 15);
  ASSERT_EQ(worker_->MainActions.size(), 2u);
  EXPECT_EQ(worker_->MainActions[0]->ActionType, 9);
  EXPECT_EQ(worker_->MainActions[1]->ActionType, 10);
  ASSERT_EQ(worker_->PostActions.size(), 1u);
  EXPECT_EQ(worker_->PostActions[0]->ActionType, 18);
  // Checking runs nothing.
  EXPECT_FALSE(machine.Dword(L"New"));
}

TEST_F(RenovaWorkerTest, TextsForTheRegistryComeInTheProductsLanguageWithTheCaptionForTheUpdaterName) {
  options_.WriteCheckResultToReg = 1;
  options_.WindowCaption = L"Acme Updater";
  Answer("<Instruction><ErrorMessage>Database down</ErrorMessage><UpdateId>45</UpdateId></Instruction>");
  EXPECT_EQ(Check().UpdateResult, RESULT_SERVER_ERROR);
  EXPECT_EQ(WrittenResult().text, L"Acme Updater has encountered an error. Please contact the support.");

  // Only the error text names the updater.
  ForgetCheck();
  Answer("<Instruction><UpdateId>0</UpdateId></Instruction>");
  EXPECT_EQ(Check().UpdateResult, RESULT_NO_UPDATE);
  EXPECT_EQ(WrittenResult().text, kUpToDateText);

  Publish(0, 1031);
  ForgetCheck();
  EXPECT_EQ(Check().UpdateResult, RESULT_NO_UPDATE);
  EXPECT_EQ(WrittenResult().text,
            L"Es wird keine Aktualisierung ben\u00f6tigt, die aktuellste Version ist bereits installiert.");
}

TEST_F(RenovaWorkerTest, FailedPostWhileOnlineIsAnUnreachableServerWithTheTimeWritten) {
  DWORD flags = 0;
  if (!NewWorker().QueryConnectedState(&flags, 0)) GTEST_SKIP() << "this machine counts as offline";
  options_.WriteCheckResultToReg = 1;
  for (const std::wstring& base :
       {std::wstring(L"https://localhost:1/Renova/"), ServiceBaseUrl(L"https", ports_.main, scope_, L"status=500")}) {
    SCOPED_TRACE(Narrow(base));
    ForgetCheck();
    UseBase(base);
    LogCapture log;
    const time_t before = std::time(nullptr);
    const WorkerResult result = Check();
    EXPECT_EQ(result.UpdateResult, RESULT_SERVER_NOT_REACHABLE);
    EXPECT_EQ(result.UpdateId, 0);
    EXPECT_EQ(log.CountAt(L"ERR", L"result != S_OK"), 1u);
    EXPECT_EQ(log.Count(L"Server response = "), 0u);
    EXPECT_TRUE(LastCheckWrittenSince(before));
    const Written written = WrittenResult();
    EXPECT_EQ(written.value, 0u);
    EXPECT_EQ(written.text, kMaintenanceText);
  }
}

TEST_F(RenovaWorkerTest, FailedPostWhileOfflineWritesNothing) {
  options_.WriteCheckResultToReg = 1;
  UseBase(L"https://localhost:1/Renova/");
  RenovaWorker& worker = NewWorker();
  worker.QueryConnectedState = Disconnected;  // stand-in: see Disconnected
  LogCapture log;
  const WorkerResult result = worker.CheckForUpdate();
  EXPECT_EQ(result.UpdateResult, RESULT_OFFLINE);
  EXPECT_EQ(result.UpdateId, 0);
  EXPECT_EQ(log.CountAt(L"ERR", L"result != S_OK"), 1u);
  EXPECT_FALSE(LastCheckWritten());
  EXPECT_FALSE(WrittenResult().value);
  EXPECT_FALSE(WrittenResult().text);
}

TEST_F(RenovaWorkerTest, AnswerWithoutTextIsAnUnreachableServer) {
  options_.WriteCheckResultToReg = 1;
  for (const wchar_t* fault : {L"emptyroot", L"notxml"}) {
    SCOPED_TRACE(Narrow(fault));
    ForgetCheck();
    UseBase(ServiceBaseUrl(L"https", ports_.main, scope_, fault));
    LogCapture log;
    const time_t before = std::time(nullptr);
    const WorkerResult result = Check();
    EXPECT_EQ(result.UpdateResult, RESULT_SERVER_NOT_REACHABLE);
    EXPECT_EQ(log.CountAt(L"INF", L"Server response = "), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L"Length of responseString = 0"), 1u);
    EXPECT_EQ(log.Count(L"loading Instruction.xml"), 0u);
    EXPECT_TRUE(LastCheckWrittenSince(before));
    EXPECT_EQ(WrittenResult().value, 0u);
    EXPECT_EQ(WrittenResult().text, kMaintenanceText);
  }
}

TEST_F(RenovaWorkerTest, InstructionTheParserRejectsIsABadAnswerNotAnOffer) {
  options_.WriteCheckResultToReg = 1;
  struct Case {
    const char* text;
    int parseResult;
  };
  for (const Case c : {Case{"<Instruction><UpdateId>7</UpdateId>", 10}, Case{"<!-- only a comment -->", 11}}) {
    SCOPED_TRACE(c.text);
    ForgetCheck();
    Answer(c.text);
    LogCapture log;
    const time_t before = std::time(nullptr);
    const WorkerResult result = Check();
    EXPECT_EQ(result.UpdateResult, RESULT_SERVER_NOT_REACHABLE);
    EXPECT_EQ(result.UpdateId, 0);
    const std::wstring code = std::to_wstring(c.parseResult);
    EXPECT_EQ(log.CountAt(L"INF", L"Load and Read Instruction.xml end with result code: " + code), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L"The instruction in the server's answer can't be read (" + code + L")"), 1u);
    EXPECT_EQ(log.Count(L"is available!"), 0u);
    EXPECT_TRUE(LastCheckWrittenSince(before));
    EXPECT_EQ(WrittenResult().value, 0u);
    EXPECT_EQ(WrittenResult().text, kMaintenanceText);
    EXPECT_TRUE(worker_->PreActions.empty() && worker_->MainActions.empty() && worker_->PostActions.empty());
  }
}

TEST_F(RenovaWorkerTest, RequestThatCannotBeBuiltIsNeverSent) {
  options_.WriteCheckResultToReg = 1;
  UseBase(ServiceBaseUrl(L"https", ports_.main, scope_));
  RenovaWorker& worker = NewWorker();
  worker.BuildRequest = FailingRequest;  // stand-in: see FailingRequest
  LogCapture log;
  const WorkerResult result = worker.CheckForUpdate();
  EXPECT_EQ(result.UpdateResult, RESULT_REQUEST_NOT_BUILT);
  EXPECT_EQ(result.UpdateId, 0);
  EXPECT_EQ(log.CountAt(L"ERR", L"Failed building ClientStatus (5)"), 1u);
  EXPECT_EQ(RecordCount(ports_.main, scope_), 0);
  EXPECT_FALSE(LastCheckWritten());
  EXPECT_FALSE(WrittenResult().value);
}

TEST_F(RenovaWorkerTest, AdViewerRunsOnlyForSessionsThatShowTheirResult) {
  Answer(
      "<Instruction><UpdateId>42</UpdateId><AdViewerUrl>http://localhost:1/viewer.exe</AdViewerUrl>"
      "<AdCampaignId>spring</AdCampaignId><Download/></Instruction>");
  {
    LogCapture log;
    EXPECT_EQ(Check().UpdateResult, RESULT_UPDATE_AVAILABLE);
    // Nothing listens there: the download fails and nothing is started.
    EXPECT_EQ(log.Count(L"Downloading from: 'http://localhost:1/viewer.exe'"), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L"Can\u00b4t download http://localhost:1/viewer.exe"), 1u);
  }
  for (int32_t CmdLineInfo::*quiet : {&CmdLineInfo::WriteCheckResultToReg, &CmdLineInfo::HideUpdateCheckResult,
                                      &CmdLineInfo::OnlyDownload, &CmdLineInfo::QuickCheck}) {
    CmdLineInfo plain = options_;
    options_.*quiet = 1;
    LogCapture log;
    EXPECT_EQ(Check().UpdateResult, RESULT_UPDATE_AVAILABLE);
    EXPECT_EQ(log.Count(L"Downloading from: "), 0u);
    EXPECT_EQ(log.Count(L"REVoRuzure.exe"), 0u);
    options_ = plain;
  }

  // Without an address the viewer already in the product folder is started.
  Answer("<Instruction><UpdateId>0</UpdateId><AdCampaignId>summer</AdCampaignId></Instruction>");
  LogCapture log;
  EXPECT_EQ(Check().UpdateResult, RESULT_NO_UPDATE);
  EXPECT_EQ(log.Count(L"Downloading from: "), 0u);
  // The product folder holds no viewer: the start is tried and finds none.
  EXPECT_EQ(log.CountAt(L"WAR", L"REVoRuzure.exe not found!"), 1u);
}

TEST_F(RenovaWorkerTest, FailingPreActionStopsTheRunAndTheServiceHearsItsTypeId) {
  const MachineKey machine;
  ASSERT_TRUE(WriteRegDword(HKEY_LOCAL_MACHINE, machine.path() + L"\\Locked", L"Old", 1));
  const std::string key = machine.xmlPath();
  Answer(
      "<Instruction><UpdateId>42</UpdateId><Pre>"
      "<Action Name=\"SetRegValue\" Key=\"" +
      key +
      "\" Value=\"Before\" Type=\"DWORD\" Data=\"1\"/>"
      "<Action Name=\"DelRegValue\" Key=\"" +
      key +
      "\\Locked\" Value=\"Old\"/>"
      "<Action Name=\"SetRegValue\" Key=\"" +
      key +
      "\" Value=\"After\" Type=\"DWORD\" Data=\"1\"/>"
      "</Pre><Download><File Url=\"http://localhost:1/setup.exe\" RelativeTargetFolder=\"\""
      " FileName=\"setup.exe\"/></Download></Instruction>");
  ASSERT_EQ(Check().UpdateResult, RESULT_UPDATE_AVAILABLE);
  const size_t mainActions = worker_->MainActions.size();

  const ReadOnlyDacl readOnly(machine.path() + L"\\Locked");
  ASSERT_TRUE(readOnly.applied());
  DownloadCallback callback;
  LogCapture log;
  const WorkerResult result = worker_->RunInstallation(&callback);
  EXPECT_EQ(result.UpdateResult, RESULT_ACTION_FAILED);
  EXPECT_EQ(result.UpdateId, 42);
  EXPECT_EQ(machine.Dword(L"Before"), 1u);
  EXPECT_FALSE(machine.Dword(L"After"));
  EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, machine.path() + L"\\Locked", L"Old"), 1u);
  // The failed action and the one after it stay; nothing was downloaded.
  ASSERT_EQ(worker_->PreActions.size(), 2u);
  EXPECT_EQ(worker_->PreActions[0]->ActionType, 15);
  EXPECT_EQ(worker_->MainActions.size(), mainActions);
  EXPECT_EQ(worker_->MainActions[0]->Callback, nullptr);
  EXPECT_EQ(log.Count(L"Delete folder"), 0u);

  const auto xml = ReceivedUpdateStatus();
  ASSERT_TRUE(xml) << "no UpdateStatus arrived";
  EXPECT_NE(xml->find("<IsStub>0</IsStub>\n    <Status>15</Status>\n    <UpdateId>42</UpdateId>"), std::string::npos)
      << *xml;
}

TEST_F(RenovaWorkerTest, FailedDownloadIsReportedAsNineAndLeavesTheCacheFolderAlone) {
  Answer(kOfferWithDownload);
  ASSERT_EQ(Check().UpdateResult, RESULT_UPDATE_AVAILABLE);
  const std::wstring cache = CacheFolder();
  ASSERT_TRUE(::CreateDirectoryW(cache.c_str(), nullptr));

  DownloadCallback callback;
  LogCapture log;
  const WorkerResult result = worker_->RunInstallation(&callback);
  EXPECT_EQ(result.UpdateResult, RESULT_DOWNLOAD_FAILED);
  EXPECT_EQ(result.UpdateId, 42);
  ASSERT_FALSE(worker_->MainActions.empty());
  EXPECT_EQ(worker_->MainActions[0]->ActionType, 9);
  EXPECT_EQ(worker_->MainActions[0]->Callback, &callback);
  EXPECT_NE(::GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(log.Count(L"Delete folder"), 0u);

  const auto xml = ReceivedUpdateStatus();
  ASSERT_TRUE(xml) << "no UpdateStatus arrived";
  EXPECT_NE(xml->find("<Status>9</Status>\n    <UpdateId>42</UpdateId>"), std::string::npos) << *xml;
}

TEST_F(RenovaWorkerTest, FailingSetupIsReportedWithItsTypeId) {
  // An offer without files: the setup is the only main action. Nothing was
  // downloaded, so there is neither a setup nor a cache folder to copy from.
  Answer("<Instruction><UpdateId>51</UpdateId></Instruction>");
  ASSERT_EQ(Check().UpdateResult, RESULT_UPDATE_AVAILABLE);
  worker_->MainActions.push_back(std::make_unique<ActionProductUpdate>());

  const WorkerResult result = worker_->RunInstallation(nullptr);
  EXPECT_EQ(result.UpdateResult, RESULT_ACTION_FAILED);
  EXPECT_EQ(result.UpdateId, 51);
  EXPECT_EQ(worker_->MainActions.size(), 1u);
  const auto xml = ReceivedUpdateStatus();
  ASSERT_TRUE(xml) << "no UpdateStatus arrived";
  EXPECT_NE(xml->find("<Status>10</Status>\n    <UpdateId>51</UpdateId>"), std::string::npos) << *xml;
}

// The setup's answer when the user cancelled it. No action of this build can
// give it yet (the setup doesn't run), so this stand-in does.
class CancelledSetup : public ActionBase {
 public:
  CancelledSetup() : ActionBase(kActionProductUpdate, 0) {}
  int32_t Execute() override { return kActionCancelled; }
};

TEST_F(RenovaWorkerTest, CancelledSetupIsNotReportedAndLeavesTheCacheFolderAlone) {
  Answer("<Instruction><UpdateId>52</UpdateId></Instruction>");
  ASSERT_EQ(Check().UpdateResult, RESULT_UPDATE_AVAILABLE);
  worker_->MainActions.push_back(std::make_unique<CancelledSetup>());
  const std::wstring cache = CacheFolder();
  ASSERT_TRUE(::CreateDirectoryW(cache.c_str(), nullptr));

  LogCapture log;
  const WorkerResult result = worker_->RunInstallation(nullptr);
  EXPECT_EQ(result.UpdateResult, RESULT_CANCELED);
  EXPECT_EQ(result.UpdateId, 52);
  EXPECT_NE(::GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(log.Count(L"Delete folder"), 0u);
  // A report would reach the service well within this time.
  ::Sleep(2000);
  EXPECT_EQ(RecordCount(ports_.main, scope_), 1) << "only the check";
  EXPECT_EQ(log.Count(L"CreateUpdateStatusXml start"), 0u);
}

TEST_F(RenovaWorkerTest, CompletedRunRemovesOnlyAnEmptyCacheFolder) {
  const MachineKey machine;
  const std::string offer = "<Instruction><UpdateId>31</UpdateId><Pre><Action Name=\"SetRegValue\" Key=\"" +
                            machine.xmlPath() + "\" Value=\"Ran\" Type=\"DWORD\" Data=\"7\"/></Pre></Instruction>";
  Answer(offer);
  const std::wstring cache = CacheFolder();
  ASSERT_EQ(::GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);

  // No folder at all counts as removed.
  {
    ASSERT_EQ(Check().UpdateResult, RESULT_UPDATE_AVAILABLE);
    LogCapture log;
    const WorkerResult result = worker_->RunInstallation(nullptr);
    EXPECT_EQ(result.UpdateResult, RESULT_RUN_DONE);
    EXPECT_EQ(result.UpdateId, 31);
    EXPECT_EQ(machine.Dword(L"Ran"), 7u);
    EXPECT_TRUE(worker_->PreActions.empty());
    EXPECT_EQ(log.CountAt(L"INF", L"Delete folder successful"), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L""), 0u);
  }
  // An empty folder goes.
  {
    ASSERT_TRUE(::CreateDirectoryW(cache.c_str(), nullptr));
    ASSERT_EQ(Check().UpdateResult, RESULT_UPDATE_AVAILABLE);
    LogCapture log;
    EXPECT_EQ(worker_->RunInstallation(nullptr).UpdateResult, RESULT_RUN_DONE);
    EXPECT_EQ(::GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(log.CountAt(L"INF", L"Delete folder successful"), 1u);
  }
  // Downloaded files stay, and so does their folder.
  {
    ASSERT_TRUE(::CreateDirectoryW(cache.c_str(), nullptr));
    const std::wstring file = cache + L"\\setup.exe";
    HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ::CloseHandle(handle);
    ASSERT_EQ(Check().UpdateResult, RESULT_UPDATE_AVAILABLE);
    LogCapture log;
    EXPECT_EQ(worker_->RunInstallation(nullptr).UpdateResult, RESULT_RUN_DONE);
    EXPECT_NE(::GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(log.CountAt(L"ERR", L"Cannot delete directory " + cache + L" because: \"" +
                                      GetErrorText(ERROR_DIR_NOT_EMPTY) + L"\""),
              1u);
    EXPECT_EQ(log.Count(L"Delete folder successful"), 0u);
    ::DeleteFileW(file.c_str());
  }
}

// Post actions of one compatible and one incompatible value, after a failing
// one (a key name longer than the registry allows) whose result must not stop
// the others.
std::string OfferWithPostActions(const MachineKey& machine) {
  const std::string key = machine.xmlPath();
  return "<Instruction><UpdateId>61</UpdateId><Download/><Post>"
         "<Action Name=\"SetRegValue\" Key=\"" +
         key + "\\" + std::string(300, 'k') +
         "\" Value=\"Fails\""
         " Type=\"DWORD\" Data=\"1\" PostInstallationActionCompatible=\"1\"/>"
         "<Action Name=\"SetRegValue\" Key=\"" +
         key +
         "\" Value=\"Always\" Type=\"SZ\" Data=\"yes\""
         " PostInstallationActionCompatible=\"1\"/>"
         "<Action Name=\"SetRegValue\" Key=\"" +
         key +
         "\" Value=\"UpdateOnly\" Type=\"DWORD\" Data=\"2\"/>"
         "</Post></Instruction>";
}

TEST_F(RenovaWorkerTest, PostActionsRunAfterTheSessionInUpdateMode) {
  const MachineKey machine;
  Answer(OfferWithPostActions(machine));
  ASSERT_EQ(Check().UpdateResult, RESULT_UPDATE_AVAILABLE);
  ASSERT_EQ(worker_->PostActions.size(), 3u);
  // Without downloads and setup (the end-to-end update runs have them) the
  // run goes to its end as after a successful setup.
  worker_->MainActions.clear();
  EXPECT_EQ(worker_->RunInstallation(nullptr).UpdateResult, RESULT_RUN_DONE);
  EXPECT_EQ(worker_->PostActions.size(), 3u) << "an update's post actions wait for the dialog to close";
  EXPECT_FALSE(ReadRegString(HKEY_LOCAL_MACHINE, machine.path(), L"Always"));

  LogCapture log;
  worker_->RunPostActions();
  EXPECT_TRUE(worker_->PostActions.empty());
  EXPECT_EQ(log.Count(L"setting reg key"), 3u);
  EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, machine.path(), L"Always"), L"yes");
  EXPECT_EQ(machine.Dword(L"UpdateOnly"), 2u);
}

TEST_F(RenovaWorkerTest, InstallationRunEndsWithThePostActionsMeantForAFreshInstallation) {
  Publish(1);
  const MachineKey machine;
  Answer(OfferWithPostActions(machine));
  ASSERT_EQ(Check().UpdateResult, RESULT_INSTALLATION_AVAILABLE);
  ASSERT_EQ(worker_->PostActions.size(), 3u);
  worker_->MainActions.clear();  // as above: no download or setup in this build

  LogCapture log;
  EXPECT_EQ(worker_->RunInstallation(nullptr).UpdateResult, RESULT_RUN_DONE);
  EXPECT_TRUE(worker_->PostActions.empty());
  EXPECT_EQ(log.Count(L"setting reg key"), 2u) << "the failing one and the compatible one";
  EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, machine.path(), L"Always"), L"yes");
  EXPECT_FALSE(machine.Dword(L"UpdateOnly"));
  EXPECT_FALSE(LastCheckWritten());
}

}  // namespace
