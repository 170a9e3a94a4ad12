// Update runs of the updater built with the tests' two keys: only an answer
// the service signed with one of them, for this product and not expired, is
// read; every download must match the digest the answer gives; the checked
// files can't be swapped before the setup has run, and nothing else that
// lies beside them runs or is copied. The service signs with the first key
// unless a fault asks for another key or a broken signature.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "product/product_folders.h"
#include "support/host_link.h"
#include "support/test_keys.h"
#include "system/file_digest.h"
#include "system/file_system.h"
#include "system/protected_folder.h"
#include "update_run_test.h"
#include "win/strings.h"

using namespace testing_support;

namespace {

constexpr char kFarExpiry[] = "<Expires>2099-01-01T00:00:00Z</Expires>";

class SignedUpdateTest : public UpdateRunTest {
 protected:
  // The keyed updater keeps the product's folder where only administrators write.
  void SetUp() override {
    UpdateRunTest::SetUp();
    if (HasFatalFailure()) return;
    userFolder_ = productFolder_;
    const std::optional<std::wstring> vendor = ProtectedVendorFolder();
    ASSERT_TRUE(vendor.has_value());
    productFolder_ = *vendor + kUpdaterFolderName + L"\\" + GetProductFolderName(product_) + L"\\";
    cache_ = productFolder_ + L"Cache\\";
  }
  void TearDown() override {
    UpdateRunTest::TearDown();
    DeleteDirectoryTree(userFolder_, true);
  }

  // What every signed instruction must carry, unless the test gives its own:
  // this product's name and an expiry time.
  std::string ForThisProduct(std::string instruction) const {
    const size_t opened = instruction.find("<Instruction>");
    if (opened == std::string::npos) return instruction;
    std::string general;
    if (!Contains(instruction, "<ProgramName>"))
      general += "<ProgramName>" + Narrow(product_.ProgramName) + "</ProgramName>";
    if (!Contains(instruction, "<Expires>")) general += kFarExpiry;
    return instruction.insert(opened + 13, general);
  }
  void Serve(const std::string& instruction, const std::wstring& faults = L"", const wchar_t* scheme = L"https",
             uint16_t port = 0) {
    UpdateRunTest::Serve(ForThisProduct(instruction), faults, scheme, port);
  }

  std::optional<DWORD> RunSigned(const std::wstring& extra) {
    return RunWorker(Switches(extra), kTimeoutMs, SignedWorkerExePath());
  }

  // The served file's SHA-256, as the instruction gives it.
  std::string Sha256Of(const std::wstring& name) const {
    const std::optional<Sha256Digest> digest = Sha256OfFile(files_->folder() + name);
    return digest ? win::ToUtf8(ToHex(*digest)) : "";
  }
  std::string CheckedFile(const std::wstring& name, const std::wstring& relative = L"") const {
    return File(name, relative, " Sha256=\"" + Sha256Of(name) + "\"");
  }
  std::string CheckedSetupFiles() const {
    return CheckedFile(L"setup.exe") + CheckedFile(L"setup-payload.ini") + CheckedFile(L"new\\program.txt", L"new");
  }

  // The setup's payload, with the files it tries to replace while it runs.
  void ServeTamperingSetup() {
    ServeSetup("0");
    ASSERT_TRUE(files_->Write(L"setup-payload.ini",
                              "copy=new\r\nexit=0\r\ntamper=setup.exe,setup-payload.ini,new\\program.txt\r\n"));
  }

  bool ReportedStatus(int status) const {
    for (const std::string& report : StatusReports()) {
      if (Contains(report, "<Status>" + std::to_string(status) + "</Status>")) return true;
    }
    return false;
  }
  // How often the product's logs hold the text: runs of one product add up.
  size_t LogCount(const std::string& text) const {
    const std::string log = Log();
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }
  int Downloads() const { return Requests(L"setup.exe") + Requests(L"setup-payload.ini") + Requests(L"program.txt"); }

  // A silent update whose answer is refused: a failed check with its one
  // error line, nothing downloaded or run, and report 5.
  void ExpectRefusedCheck(const std::string& line) {
    const size_t before = LogCount(line);
    EXPECT_EQ(RunSigned(L"-UpdateSilent"), 1u);
    EXPECT_EQ(LogCount(line), before + 1) << LastLines(Log());
    EXPECT_EQ(Downloads(), 0);
    EXPECT_TRUE(SetupRuns().empty());
    EXPECT_TRUE(ReportedStatus(5));
  }

  // Waits until the run has downloaded path, which then lies in the cache.
  bool WaitForDownload(const std::wstring& path, ChildProcess& worker) {
    const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
    while (::GetTickCount64() < deadline) {
      if (PathExists(path)) return true;
      if (worker.Wait(50)) return false;
    }
    return false;
  }

  std::wstring userFolder_;  // where the updater without keys keeps the product's folder
};

}  // namespace

TEST_F(SignedUpdateTest, ASignedUpdateRunsAndItsFilesCantBeSwappedUntilTheSetupHasEnded) {
  ServeTamperingSetup();
  Serve(UpdateInstruction(false, CheckedSetupFiles()));
  EXPECT_EQ(RunSigned(L"-UpdateSilent"), 8u);
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "2.0.0");
  const std::vector<std::string> runs = SetupRuns();
  EXPECT_EQ(runs, (std::vector<std::string>{UpdateLine("REINSTALL=ALL REINSTALLMODE=vamus "), "tamper setup.exe: 32",
                                            "tamper setup-payload.ini: 32", "tamper new\\program.txt: 32"}));
  // Released once the setup had ended: the setup goes as usual.
  EXPECT_FALSE(PathExists(cache_ + L"setup.exe"));
  EXPECT_TRUE(Reported(0));
  EXPECT_TRUE(Contains(Log(), "The instruction's signature is valid")) << LastLines(Log());
}

TEST_F(SignedUpdateTest, WithoutKeysAnUnsignedAnswerIsReadAndOnlyCheckedFilesAreHeld) {
  // The updater without keys, an answer without signature: the payload has no
  // digest, so nothing keeps the setup from changing it; the other files do.
  ServeTamperingSetup();
  Serve(UpdateInstruction(
            false, CheckedFile(L"setup.exe") + File(L"setup-payload.ini") + CheckedFile(L"new\\program.txt", L"new")),
        L"unsigned");
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 8u);
  const std::vector<std::string> runs = SetupRuns();
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[2], "tamper setup-payload.ini: 0");
  EXPECT_EQ(runs[3], "tamper new\\program.txt: 32");
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "2.0.0");
}

TEST_F(SignedUpdateTest, AnswersThatAreNotSignedByABuiltInKeyAreRefusedAndNothingIsDownloaded) {
  const struct {
    std::string extra;    // general elements of the instruction
    std::wstring faults;  // how the service spoils the signature
    const char* line;
  } cases[] = {
      {"", L"unsigned", "The server's answer is not signed; the answer is refused"},
      {"", L"badsig", "The signature of the server's answer can't be read; the answer is refused"},
      {"", L"signwith=2", "which this updater does not know; the answer is refused"},
      {"", L"flipsig", "The signature of the server's answer is not valid; the answer is refused"},
      {"", L"signwith=2;nokeyid", "The signature of the server's answer is not valid; the answer is refused"},
      {"<Expires>2020-01-01T00:00:00Z</Expires>", L"",
       "The instruction expired at 2020-01-01T00:00:00Z; the answer is refused"},
      {"<Expires>next week</Expires>", L"",
       "The instruction's expiry time \"next week\" can't be read; the answer is refused"},
      {"<NewProductVersion>0.9.0</NewProductVersion>", L"",
       "The instruction offers version 0.9.0, older than the installed 1.0.0; the offer is refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    scope_ = NewScope();
    files_.emplace(scope_);
    ServeSetup("0");
    DeleteDirectoryTree(productFolder_, true);
    Serve(UpdateInstruction(false, CheckedSetupFiles(), c.extra), c.faults);
    ExpectRefusedCheck(c.line);
  }
  // The same spoilt answer where the updater falls back to plain HTTP: the
  // port's certificate is self-signed, so the retry goes without TLS.
  scope_ = NewScope();
  files_.emplace(scope_);
  ServeSetup("0");
  Serve(UpdateInstruction(false, CheckedSetupFiles()), L"flipsig", L"https", ports_.selfSigned);
  EXPECT_EQ(RunSigned(L"-UpdateSilent"), 1u);
  EXPECT_TRUE(Contains(Log(), "The signature of the server's answer is not valid")) << LastLines(Log());
  bool overHttp = false;
  for (int i = 0; i < RecordCount(ports_.main, scope_); ++i) {
    overHttp |= RecordField(ports_.main, scope_, i, "method") == "GetClientUpdate" &&
                RecordField(ports_.main, scope_, i, "scheme") == "http";
  }
  EXPECT_TRUE(overHttp) << "the check did not come over HTTP";
  EXPECT_EQ(Downloads(), 0);
}

TEST_F(SignedUpdateTest, EitherBuiltInKeyWillDoWithOrWithoutItsId) {
  ASSERT_TRUE(files_->Write(L"new\\program.txt", "2.0.0"));
  for (const wchar_t* faults : {L"signwith=1", L"signwith=1;nokeyid", L"nokeyid"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(faults)));
    DeleteDirectoryTree(productFolder_, true);
    installed_.WriteFile(L"program.txt", "1.0.0");
    Serve(UpdateInstruction(false, CheckedFile(L"new\\program.txt")), faults);
    EXPECT_EQ(RunSigned(L"-UpdateSilent"), 8u);
    EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "2.0.0");
  }
}

TEST_F(SignedUpdateTest, ADownloadThatDiffersFromItsDigestOrHasNoneFailsTheRun) {
  ServeSetup("0");
  // The setup's digest is the payload's: it downloads, differs and is deleted.
  Serve(UpdateInstruction(false, File(L"setup.exe", L"", " Sha256=\"" + Sha256Of(L"setup-payload.ini") + "\"") +
                                     CheckedFile(L"setup-payload.ini")));
  EXPECT_EQ(RunSigned(L"-UpdateSilent"), 9u);
  EXPECT_TRUE(Contains(Log(), "Download " + Narrow(cache_) + "setup.exe does not match: expected SHA-256 " +
                                  Sha256Of(L"setup-payload.ini") + ", got " + Sha256Of(L"setup.exe")))
      << LastLines(Log());
  EXPECT_FALSE(PathExists(cache_ + L"setup.exe"));
  EXPECT_TRUE(SetupRuns().empty());
  EXPECT_TRUE(Reported(9));

  // A file the signed answer gives no digest for: refused before any download.
  scope_ = NewScope();
  files_.emplace(scope_);
  ServeSetup("0");
  Serve(UpdateInstruction(false, CheckedFile(L"setup.exe") + File(L"setup-payload.ini")));
  EXPECT_EQ(RunSigned(L"-UpdateSilent"), 9u);
  EXPECT_TRUE(Contains(Log(), "setup-payload.ini refused: the signed instruction gives no SHA-256 for it"))
      << LastLines(Log());
  EXPECT_EQ(Downloads(), 0);
  EXPECT_TRUE(Reported(9));
}

TEST_F(SignedUpdateTest, AnAnswerForAnotherProductOrWithoutExpiryIsRefusedLikeABadSignature) {
  const struct {
    std::string instruction;  // served as it stands, signed with the first key
    const char* line;
  } cases[] = {
      {UpdateInstruction(false, CheckedSetupFiles(),
                         "<ProgramName>Another Product</ProgramName>" + std::string(kFarExpiry)),
       "The signed instruction is for the product \"Another Product\", not for \""},
      // The product's name in another case, or with the preview channel's suffix, is another product.
      {UpdateInstruction(
           false, CheckedSetupFiles(),
           "<ProgramName>" + Narrow(product_.ProgramName) + " [Preview Channel]</ProgramName>" + kFarExpiry),
       "The signed instruction is for the product \""},
      {UpdateInstruction(false, CheckedSetupFiles(), kFarExpiry), "The signed instruction names no product"},
      {UpdateInstruction(false, CheckedSetupFiles(), "<ProgramName>" + Narrow(product_.ProgramName) + "</ProgramName>"),
       "The signed instruction has no expiry time; the answer is refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    StartAfresh();
    ServeSetup("0");
    UpdateRunTest::Serve(c.instruction);
    ExpectRefusedCheck(c.line);
  }
}

TEST_F(SignedUpdateTest, NothingNewMustBeSignedForThisProductToo) {
  // The plain sentence, which anybody on the way can send to hold updates back.
  UpdateRunTest::Serve("No update available!", L"unsigned");
  EXPECT_EQ(RunSigned(L"-UpdateSilent"), 1u);
  EXPECT_EQ(LogCount("The server's answer is not signed; the answer is refused"), 1u) << LastLines(Log());
  EXPECT_TRUE(ReportedStatus(5));

  // The service's own answer when it has a key: a signed instruction that
  // offers nothing, for this product, with an expiry.
  StartAfresh();
  served_.emplace(product_.ProgramName, ServiceBaseUrl(L"https", ports_.main, scope_));
  EXPECT_EQ(RunSigned(L"-UpdateCheckSilent -QuickCheck"), 0u);
  EXPECT_EQ(LogCount("The instruction's signature is valid"), 1u) << LastLines(Log());
  EXPECT_TRUE(Contains(Log(), "Load and Read Instruction.xml end with result code: 18")) << LastLines(Log());

  // The same signed "nothing offered" made for another product.
  StartAfresh();
  UpdateRunTest::Serve("<Instruction><UpdateId>0</UpdateId><ProgramName>Another Product</ProgramName>" +
                       std::string(kFarExpiry) + "</Instruction>");
  EXPECT_EQ(RunSigned(L"-UpdateSilent"), 1u);
  EXPECT_EQ(LogCount("The signed instruction is for the product \"Another Product\""), 1u) << LastLines(Log());
}

// Files put into the cache while the run downloads: a setup.exe beside an
// update that copies its files, and a file beside one that runs a setup. The
// last download is held back by the service so that they arrive after every
// other file was checked.
TEST_F(SignedUpdateTest, NothingButTheCheckedFilesRunsOrIsCopied) {
  ASSERT_TRUE(files_->Write(L"new\\program.txt", "2.0.0"));
  ASSERT_TRUE(files_->Write(L"late.txt", "late"));
  const std::string late = "<File Url=\"" + files_->Url("https", ports_.main, L"late.txt", L"delay=3") +
                           "\" RelativeTargetFolder=\"\" FileName=\"late.txt\" Sha256=\"" + Sha256Of(L"late.txt") +
                           "\"/>";
  Serve(UpdateInstruction(false, CheckedFile(L"new\\program.txt") + late));
  {
    ChildProcess worker(SignedWorkerExePath(), Switches(L"-UpdateSilent"));
    ASSERT_TRUE(worker.started());
    ASSERT_TRUE(WaitForDownload(cache_ + L"program.txt", worker));
    ASSERT_TRUE(::CopyFileW((BinFolder() + L"setup.exe").c_str(), (cache_ + L"setup.exe").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW((files_->folder() + L"late.txt").c_str(), (cache_ + L"added.txt").c_str(), FALSE));
    EXPECT_EQ(worker.Wait(kTimeoutMs), 8u);
  }
  EXPECT_TRUE(SetupRuns().empty()) << "the dropped setup ran";
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "2.0.0");
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"late.txt"), "late");
  EXPECT_FALSE(PathExists(installed_.path() + L"setup.exe")) << "an unchecked file was copied";
  EXPECT_FALSE(PathExists(installed_.path() + L"added.txt")) << "an unchecked file was copied";
  EXPECT_TRUE(
      Contains(Log(), Narrow(cache_) + "\\setup.exe is not a file this run downloaded and checked; it is not started"))
      << LastLines(Log());

  // A checked setup with a library put beside it: it is not started at all.
  StartAfresh();
  installed_.WriteFile(L"program.txt", "1.0.0");
  ServeSetup("0");
  ASSERT_TRUE(files_->Write(L"late.txt", "late"));
  const std::string lateAgain = "<File Url=\"" + files_->Url("https", ports_.main, L"late.txt", L"delay=3") +
                                "\" RelativeTargetFolder=\"\" FileName=\"late.txt\" Sha256=\"" + Sha256Of(L"late.txt") +
                                "\"/>";
  Serve(UpdateInstruction(false, CheckedSetupFiles() + lateAgain));
  {
    ChildProcess worker(SignedWorkerExePath(), Switches(L"-UpdateSilent"));
    ASSERT_TRUE(worker.started());
    ASSERT_TRUE(WaitForDownload(cache_ + L"new\\program.txt", worker));
    ASSERT_TRUE(::CopyFileW((files_->folder() + L"late.txt").c_str(), (cache_ + L"version.dll").c_str(), FALSE));
    EXPECT_EQ(worker.Wait(kTimeoutMs), 9u);
  }
  EXPECT_TRUE(SetupRuns().empty()) << "the setup ran beside an unchecked file";
  EXPECT_EQ(ReadFileBytes(installed_.path() + L"program.txt"), "1.0.0");
  EXPECT_TRUE(Contains(Log(), "The cache folder holds " + Narrow(cache_) +
                                  "version.dll, which this run did not download and check; the setup is not started"))
      << LastLines(Log());
}

TEST_F(SignedUpdateTest, ALinkOnTheWayToTheCacheFolderIsRefused) {
  // The attacker's folder, which the link would lead the updater into.
  ScratchFolder elsewhere;
  const std::wstring kept = elsewhere.WriteFile(L"Cache\\keep.txt", "not the updater's");
  const std::wstring productLink = productFolder_.substr(0, productFolder_.size() - 1);
  ASSERT_TRUE(
      MakeProtectedFolder(productFolder_.substr(0, productFolder_.find_last_of(L'\\', productLink.size() - 1) + 1)));
  DeleteDirectoryTree(productFolder_, true);
  if (!MakeHostFolderLink(productLink, elsewhere.path().substr(0, elsewhere.path().size() - 1))) {
    GTEST_SKIP() << "no host link can be made here";
  }
  ServeSetup("0");
  Serve(UpdateInstruction(false, CheckedSetupFiles()));
  const std::optional<DWORD> exitCode = RunSigned(L"-UpdateSilent");
  // The link itself, never what it leads to.
  if (!::RemoveDirectoryW(productLink.c_str())) ::DeleteFileW(productLink.c_str());
  EXPECT_EQ(exitCode, 9u);
  EXPECT_EQ(ReadFileBytes(kept), "not the updater's");
  EXPECT_TRUE(SetupRuns().empty());
  EXPECT_EQ(Downloads(), 0);
  EXPECT_TRUE(Contains(Log(), "is refused: " + Narrow(productLink) + " is a link to elsewhere")) << LastLines(Log());
  EXPECT_TRUE(Reported(9));
}
