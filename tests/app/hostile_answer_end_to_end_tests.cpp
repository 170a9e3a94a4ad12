// Attacks on the updater without keys, tried through the real exe: whoever
// answers its plain-HTTP fallback names the programs of the post actions and
// the addresses of the window's links, and the user's own unelevated
// processes set its temporary folder. Each attack must be refused with an
// error line, with nothing started, copied or deleted.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "resource.h"
#include "support/scoped_environment.h"
#include "support/session_window.h"
#include "texts/text_table.h"
#include "update_run_test.h"

using namespace testing_support;

namespace {

constexpr DWORD kProbeWaitMs = 5000;
constexpr int kMessageBoxTextId = 0xFFFF;  // the static control that holds a message box's text

std::wstring ControlText(HWND window, int id) {
  wchar_t text[512] = {};
  ::GetDlgItemTextW(window, id, text, 512);
  return text;
}

// Whether the probe program at path has run: it leaves its command line beside itself.
bool ProbeRan(const std::wstring& path, DWORD waitMs) {
  const ULONGLONG deadline = ::GetTickCount64() + waitMs;
  do {
    if (PathExists(path + L".cmdline")) return true;
    ::Sleep(50);
  } while (::GetTickCount64() < deadline);
  return false;
}

std::string Utf8(const std::wstring& text) {
  std::string bytes(
      static_cast<size_t>(::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
  bytes.pop_back();
  return bytes;
}

// The instruction's text for a value: XML's five escapes.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

class HostileAnswerTest : public UpdateRunTest {
 protected:
  // A copy of the probe program at path.
  void PlaceProbe(const std::wstring& path) {
    ASSERT_TRUE(::CopyFileW((BinFolder() + L"process_probe.exe").c_str(), path.c_str(), FALSE));
  }
  static std::string StartProcess(const std::wstring& fileName) {
    return "<Action Name=\"StartProcess\" FileName=\"" + Escaped(Utf8(fileName)) + "\"/>";
  }

  // Not now, and Yes should the session ask whether to leave the update.
  static void CloseOffer(ChildProcess& worker, HWND offer) {
    ASSERT_TRUE(ClickButton(offer, IDC_CLOSE_BUTTON));
    if (worker.Wait(3000)) return;
    if (const std::optional<HWND> question = WaitForQuestion(worker.pid(), offer, 10000)) {
      ::PostMessageW(*question, WM_COMMAND, IDYES, 0);
    }
    EXPECT_TRUE(worker.Wait(kTimeoutMs).has_value()) << "the session did not end";
  }

  ScratchFolder outside_;
};

}  // namespace

TEST_F(HostileAnswerTest, StartProcessRunsOnlyProgramsInsideTheInstallationFolder) {
  PlaceProbe(installed_.path() + L"probe.exe");
  const std::wstring outsideProbe = outside_.path() + L"probe.exe";
  PlaceProbe(outsideProbe);
  // Both scratch folders lie side by side in the temporary folder.
  const std::wstring outsideName =
      outside_.path().substr(outside_.path().find_last_of(L'\\', outside_.path().size() - 2) + 1);
  const std::wstring climbing = L"..\\" + outsideName + L"probe.exe";
  const std::wstring unc = L"\\\\127.0.0.1\\C$\\" + outsideProbe.substr(3);
  ASSERT_TRUE(PathExists(installed_.path() + climbing)) << "the climb would reach the probe";

  ServeSetup("0");
  std::string instruction = UpdateInstruction(false, SetupFiles());
  instruction.insert(instruction.rfind("</Instruction>"),
                     "<Post>" + StartProcess(climbing) + StartProcess(outsideProbe) + StartProcess(unc) +
                         StartProcess(L"sub\\..\\..\\" + outsideName + L"probe.exe") + StartProcess(L"probe.exe") +
                         "</Post>");
  Serve(instruction);
  EXPECT_EQ(RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs), 8u);

  EXPECT_TRUE(ProbeRan(installed_.path() + L"probe.exe", kProbeWaitMs)) << "the product's own program starts";
  EXPECT_FALSE(ProbeRan(outsideProbe, 1000)) << "a program outside the installation folder ran";
  const std::string log = Log();
  for (const std::wstring& refused : {climbing, outsideProbe, unc, L"sub\\..\\..\\" + outsideName + L"probe.exe"}) {
    EXPECT_TRUE(Contains(log, "ERR") &&
                Contains(log, "StartProcess refused: \"" + Narrow(refused) + "\" does not name a program inside " +
                                  Narrow(installed_.path())))
        << Narrow(refused) << "\n"
        << LastLines(log);
  }
}

TEST_F(HostileAnswerTest, WithoutAUsableTemporaryFolderNothingIsClearedDownloadedOrRun) {
  // The caller's current folder holds a folder Cache: the relative path an
  // empty temporary folder used to leave, which the download cleared.
  ScratchFolder current;
  const std::wstring kept = current.WriteFile(L"Cache\\keep.txt", "the caller's own file");
  wchar_t before[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, before);
  ASSERT_TRUE(::SetCurrentDirectoryW(current.path().c_str()));

  ServeSetup("0");
  ServeUpdate(false, SetupFiles());
  std::optional<DWORD> exitCode;
  {
    // Longer than a path may be: GetTempPath fails in the updater.
    const std::wstring unusable = L"C:\\" + std::wstring(300, L't');
    ScopedEnvironment tmp(L"TMP", unusable);
    ScopedEnvironment temp(L"TEMP", unusable);
    exitCode = RunWorker(Switches(L"-UpdateSilent"), kTimeoutMs);
  }
  ::SetCurrentDirectoryW(before);

  EXPECT_EQ(exitCode, 9u) << "the run ends as a failed download does";
  EXPECT_EQ(ReadFileBytes(kept), "the caller's own file");
  EXPECT_TRUE(SetupRuns().empty()) << "a setup ran";
  EXPECT_EQ(Requests(L"setup.exe"), 0) << "something was downloaded";
  EXPECT_TRUE(Reported(9));
  // Without a temporary folder the log is written in the current folder.
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW((current.path() + L"*.log").c_str(), &entry);
  ASSERT_NE(search, INVALID_HANDLE_VALUE) << "no log in the current folder";
  ::FindClose(search);
  const std::string log = ReadFileBytes(current.path() + entry.cFileName);
  EXPECT_TRUE(Contains(log, "There is no cache folder to download into, so nothing is cleared or downloaded"))
      << LastLines(log);
}

TEST_F(HostileAnswerTest, ALinkToAnythingButAWebPageIsRefusedWithItsErrorBox) {
  const std::wstring probe = outside_.path() + L"probe.exe";
  PlaceProbe(probe);
  std::wstring forwardSlashes = probe;
  for (wchar_t& c : forwardSlashes) c = c == L'\\' ? L'/' : c;
  const std::wstring links[] = {
      probe,                                     // a program
      L"file:///" + forwardSlashes,              // the same as a file: address
      L"\\\\127.0.0.1\\C$\\" + probe.substr(3),  // and as a UNC path
      L"FILE://" + forwardSlashes,               // any case of a scheme
      L"http:" + forwardSlashes.substr(2),       // no host
      L"https:///" + forwardSlashes.substr(3),   // an empty host
      L"https://\" " + probe,                    // a quote that would end the browser's argument
  };
  for (const std::wstring& link : links) {
    SCOPED_TRACE(Narrow(link));
    StartAfresh();
    Serve(UpdateInstruction(
        false, SetupFiles(),
        "<NewProductVersion>2.0.0</NewProductVersion><ChangeLogUrl>" + Escaped(Utf8(link)) + "</ChangeLogUrl>"));
    ChildProcess worker(WorkerExePath(), Switches(L""));
    ASSERT_TRUE(worker.started());
    const std::optional<HWND> offer =
        WaitForSessionMessage(worker.pid(), GetText(kTextUpdateAvailable, 1033), kTimeoutMs);
    ASSERT_TRUE(offer.has_value());
    const HWND control = ::GetDlgItem(*offer, IDC_CHANGE_LOG_LINK);
    ASSERT_NE(control, nullptr);
    // A click: the button goes down and comes up on the link.
    ::SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ::PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    const std::optional<HWND> box = WaitForQuestion(worker.pid(), *offer, 30000);
    ASSERT_TRUE(box.has_value()) << "no error box";
    EXPECT_EQ(ControlText(*box, kMessageBoxTextId),
              L"Can't open link:\n\nThe operating system denied\naccess to the specified file.");
    ::PostMessageW(*box, WM_COMMAND, IDOK, 0);
    CloseOffer(worker, *offer);

    EXPECT_FALSE(ProbeRan(probe, 1000)) << "the link started the program";
    const std::string log = Log();
    EXPECT_TRUE(Contains(log, "The link's address \"" + Utf8(link) + "\" is not a web page; it is not opened"))
        << LastLines(log);
  }
}
