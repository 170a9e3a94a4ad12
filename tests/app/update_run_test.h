#pragma once
// A product installed in a folder of its own and served its update by the
// test, for whole update runs of the real updater: the reference update
// service names the files, the updater downloads them into the product's
// cache folder and starts the setup stand-in, which records its command line
// and does what its payload says.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "product/product_folders.h"
#include "product/program_infos.h"
#include "product/settings.h"
#include "support/child_process.h"
#include "support/product_log.h"
#include "support/reg_tree_guard.h"
#include "support/scoped_environment.h"
#include "support/scratch.h"
#include "support/served_files.h"
#include "support/served_product.h"
#include "support/update_server.h"
#include "system/file_system.h"

namespace testing_support {

inline constexpr DWORD kTimeoutMs = 120000;

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
// The lines of the setup's record file.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// A product installed in a folder of its own, served its update by the test.
class UpdateRunTest : public UpdateServerTest {
 protected:
  void SetUp() override {
    UpdateServerTest::SetUp();
    if (HasFatalFailure()) return;
    product_.ProgramName = UniqueName(L"Run");
    product_.ProgramVersion = L"1.0.0";
    ASSERT_TRUE(GetProductCacheFolder(productFolder_, product_, true));
    cache_ = productFolder_ + L"Cache\\";
    files_.emplace(scope_);
    served_.emplace(product_.ProgramName, ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url("x")));
    machine_.emplace(HKEY_LOCAL_MACHINE, GetProductSettingsKey(product_));
    record_ = records_.path() + L"setup-record.txt";
    environment_.emplace(L"VLRN_SETUP_RECORD", record_);
    installed_.WriteFile(L"program.txt", "1.0.0");
  }

  void TearDown() override {
    if (!productFolder_.empty()) DeleteDirectoryTree(productFolder_, true);
  }

  // A case of its own in a loop of cases: the service's records under a new
  // scope, and no product folder or setup record left by the case before.
  void StartAfresh() {
    scope_ = NewScope();
    files_.emplace(scope_);
    DeleteDirectoryTree(productFolder_, true);
    ::DeleteFileW(record_.c_str());
  }

  // The served setup with its payload: the new program file, copied into
  // the installation folder, and the exit codes of its runs.
  void ServeSetup(const std::string& exitCodes) {
    ASSERT_TRUE(files_->Copy(L"setup.exe", BinFolder() + L"setup.exe"));
    ASSERT_TRUE(files_->Write(L"setup-payload.ini", "copy=new\r\nexit=" + exitCodes + "\r\n"));
    ASSERT_TRUE(files_->Write(L"new\\program.txt", "2.0.0"));
  }

  // attributes: more of them, such as a digest, written as they stand.
  std::string File(const std::wstring& name, const std::wstring& relative = L"", const std::string& attributes = "",
                   const char* scheme = "https") const {
    return "<File Url=\"" + files_->Url(scheme, ports_.main, name) + "\" RelativeTargetFolder=\"" + Narrow(relative) +
           "\" FileName=\"" + Narrow(name.substr(name.find_last_of(L"\\/") + 1)) + "\"" + attributes + "/>";
  }
  std::string SetupFiles(const char* scheme = "https") const {
    return File(L"setup.exe", L"", "", scheme) + File(L"setup-payload.ini", L"", "", scheme) +
           File(L"new\\program.txt", L"new", "", scheme);
  }

  // faults: more of the service's faults beside the answer's text.
  void Serve(const std::string& instruction, const std::wstring& faults = L"", const wchar_t* scheme = L"https",
             uint16_t port = 0) {
    served_.emplace(product_.ProgramName,
                    ServiceBaseUrl(scheme, port != 0 ? port : ports_.main, scope_,
                                   L"text=" + Base64Url(instruction) + (faults.empty() ? L"" : L";" + faults)));
  }
  // extra: more general elements, such as NewProductVersion or Expires.
  static std::string UpdateInstruction(bool majorUpgrade, const std::string& downloads, const std::string& extra = "") {
    return std::string(
               "<Instruction><UpdateId>50</UpdateId>"
               "<MaxUpdateableProductVersionExistingOnServer>2.0.0</MaxUpdateableProductVersionExistingOnServer>"
               "<SuppressReboot>True</SuppressReboot><IsReInstallModeAMUS>") +
           (majorUpgrade ? "True" : "False") + "</IsReInstallModeAMUS>" + extra + "<Download>" + downloads +
           "</Download></Instruction>";
  }
  void ServeUpdate(bool majorUpgrade, const std::string& downloads) {
    Serve(UpdateInstruction(majorUpgrade, downloads));
  }

  std::wstring Switches(const std::wstring& extra) const {
    const std::wstring folder = installed_.path().substr(0, installed_.path().size() - 1);
    return L"-ProgramName \"" + product_.ProgramName +
           L"\" -ProgramVersion 1.0.0 -Language 1033 "
           L"-InstalledLocation \"" +
           folder + L"\" " + extra;
  }

  // The command line the update hands to the setup, byte for byte.
  // ui: "/qn" for a silent update, "/qb" for one the user started.
  std::string UpdateLine(const char* reinstall, bool noSetupFromWeb = true, const char* ui = "/qn") const {
    return "\"" + Narrow(cache_) + "\\Setup.exe\" /s " + (noSetupFromWeb ? "/NoSetupFromWeb " : "") + "/v\"" + ui +
           " " + reinstall + "REBOOT=ReallySuppress  INSTALLDIR=\\\"" + Narrow(installed_.path()) + "\\\\\"\"";
  }

  std::vector<std::string> SetupRuns() const { return Lines(ReadFileBytes(record_)); }

  // The UpdateStatus documents the scope received.
  std::vector<std::string> StatusReports() const {
    std::vector<std::string> reports;
    for (int i = 0; i < RecordCount(ports_.main, scope_); ++i) {
      if (RecordField(ports_.main, scope_, i, "method") == "ReportUpdateStatus") {
        reports.push_back(RecordField(ports_.main, scope_, i, "xml").value_or(""));
      }
    }
    return reports;
  }
  bool Reported(int status) const {
    const std::vector<std::string> reports = StatusReports();
    return std::any_of(reports.begin(), reports.end(), [&](const std::string& report) {
      return Contains(report, "<Status>" + std::to_string(status) + "</Status>\n    <UpdateId>50</UpdateId>");
    });
  }
  int Requests(const std::wstring& servedName) const {
    int count = 0;
    for (int i = 0; i < RecordCount(ports_.main, scope_); ++i) {
      const auto path = RecordField(ports_.main, scope_, i, "path");
      if (path && path->ends_with("/" + Narrow(servedName))) ++count;
    }
    return count;
  }

  std::string Log() const { return ReadProductLog(product_.ProgramName); }

  ProgramInfos product_;
  std::wstring productFolder_;
  std::wstring cache_;
  ScratchFolder installed_;
  ScratchFolder records_;
  std::wstring record_;
  std::optional<ServedFiles> files_;
  std::optional<ServedProduct> served_;
  std::optional<RegTreeGuard> machine_;
  std::optional<ScopedEnvironment> environment_;
};

}  // namespace testing_support
