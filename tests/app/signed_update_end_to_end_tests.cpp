// Update runs of the updater built with the tests' two keys: only an answer
// the service signed with one of them is read, every download must match
// the digest the answer gives, and the checked files can't be swapped before
// the setup has run. The service signs with the first key unless a fault
// asks for another key or a broken signature.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "actions/file_digest.h"
#include "support/test_keys.h"
#include "update_run_test.h"
#include "win/strings.h"

using namespace testing_support;

namespace {

class SignedUpdateTest : public UpdateRunTest {
 protected:
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
    const size_t before = LogCount(c.line);
    EXPECT_EQ(RunSigned(L"-UpdateSilent"), 1u);
    EXPECT_EQ(LogCount(c.line), before + 1) << LastLines(Log());
    EXPECT_EQ(Downloads(), 0);
    EXPECT_TRUE(SetupRuns().empty());
    EXPECT_TRUE(ReportedStatus(5));
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
  // "No update available!" may come unsigned.
  served_.emplace(product_.ProgramName, ServiceBaseUrl(L"https", ports_.main, scope_, L"unsigned"));
  EXPECT_EQ(RunSigned(L"-UpdateCheckSilent -QuickCheck"), 0u);
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
