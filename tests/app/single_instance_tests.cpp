// One updater per product, across real processes. A fixture process holds the
// named events in place of a running updater.
#include "app/single_instance.h"
#include "system/safe_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "product/settings.h"
#include "support/child_process.h"
#include "support/message_box.h"
#include "support/product_log.h"
#include "support/reg_tree_guard.h"
#include "support/scratch.h"
#include "support/served_product.h"
#include "support/session_window.h"
#include "win/unique_handle.h"

using testing_support::AnswerMessageBox;
using testing_support::BinFolder;
using testing_support::ChildProcess;
using testing_support::FindMessageBox;
using testing_support::NoUpdateServiceUrl;
using testing_support::ReadProductLog;
using testing_support::RegTreeGuard;
using testing_support::RunSession;
using testing_support::RunWorker;
using testing_support::ServedProduct;
using testing_support::WaitClosingNothingToDo;
using testing_support::WorkerExePath;

namespace {

constexpr DWORD kTimeoutMs = 30000;

// A display name that is its own instance name, unique per test run.
std::wstring UniqueName(const std::wstring& prefix) { return ToSafeAscii(testing_support::UniqueName(prefix)); }

bool EventExists(const std::wstring& name) {
  win::UniqueEvent event(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  return event.valid();
}

// A running stand-in for an updater of the product whose instance name is given.
class RunningInstance {
 public:
  RunningInstance(const std::wstring& instance, bool visible, bool stub = false)
      : product_(instance),
        visible_(instance + (stub ? L" Stub is visible" : L"  is visible")),
        holder_(BinFolder() + L"hold_events.exe",
                L"\"" + product_ + L"\"" + (visible ? L" \"" + visible_ + L"\"" : L"")) {
    const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
    while (!EventExists(product_) && ::GetTickCount64() < deadline) ::Sleep(20);
  }
  bool Running() const { return holder_.Running(); }

 private:
  std::wstring product_;
  std::wstring visible_;
  ChildProcess holder_;
};

// A stand-in under the updater's image name, so that ending it by its recorded
// process id works as it would on a real first instance.
class ImpostorInstance {
 public:
  ImpostorInstance(const std::wstring& instance, bool visible)
      : holder_(CopyUnderWorkerName(folder_),
                L"\"" + instance + L"\"" + (visible ? L" \"" + instance + L"  is visible\"" : L"")) {
    const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
    while (!EventExists(instance) && holder_.Running() && ::GetTickCount64() < deadline) ::Sleep(20);
    ProgramInfos product;
    product.ProgramName = instance;
    WriteActivePID(product, holder_.pid());
  }
  bool Running() const { return holder_.Running(); }
  DWORD pid() const { return holder_.pid(); }
  std::optional<DWORD> Wait(DWORD timeoutMs) { return holder_.Wait(timeoutMs); }

 private:
  static std::wstring CopyUnderWorkerName(const testing_support::ScratchFolder& folder) {
    const std::wstring impostor = folder.path() + L"VLRenovaWorker.exe";
    EXPECT_TRUE(::CopyFileW((BinFolder() + L"hold_events.exe").c_str(), impostor.c_str(), FALSE));
    return impostor;
  }

  testing_support::ScratchFolder folder_;
  ChildProcess holder_;
};

std::wstring Switches(const std::wstring& displayName, const std::wstring& extra = L"") {
  return L"-ProgramName \"" + displayName + L"\" -DisplayName \"" + displayName +
         L"\" -ProgramVersion 2.0 -Language 1031 -InstalledLocation C:\\Prog " + extra;
}

}  // namespace

TEST(SingleInstance, EventNamesComeFromTheSafeDisplayNameForLabels) {
  ProgramInfos info;
  info.DisplayNameForLabels = L"A&&B \u00c4-Suite 2.0";
  EXPECT_EQ(InstanceEventName(info), L"AB Suite 2.0");
  EXPECT_EQ(VisibleEventName(info), L"AB Suite 2.0  is visible");
  info.IsStubExe = 1;
  EXPECT_EQ(VisibleEventName(info), L"AB Suite 2.0 Stub is visible");
}

TEST(SingleInstance, TwoProductsRunSideBySide) {
  const std::wstring first = UniqueName(L"ProductA");
  RunningInstance running(first, /*visible=*/true);
  ASSERT_TRUE(running.Running());
  const std::wstring second = UniqueName(L"ProductB");
  const ServedProduct served(second, NoUpdateServiceUrl());
  EXPECT_EQ(RunSession(Switches(second)), 0u);
}

TEST(SingleInstance, AHiddenSecondInstanceIsRefusedWithoutAQuestion) {
  const std::wstring name = UniqueName(L"Hidden");
  RunningInstance running(name, /*visible=*/true);
  for (const wchar_t* silent : {L"-UpdateCheckSilent", L"-HideUpdateCheckResult", L"-UpdateSilent"}) {
    EXPECT_EQ(RunWorker(Switches(name, silent), kTimeoutMs), 1u) << silent;
  }
  EXPECT_TRUE(running.Running());
}

TEST(SingleInstance, NamesThatDifferOnlyInDroppedCharactersShareOneInstance) {
  const std::wstring name = UniqueName(L"AB");
  RunningInstance running(name, /*visible=*/true);
  // "A&B" becomes "A&&B" for labels; both ampersands are dropped from the name.
  const std::wstring withAmpersand = L"A&" + name.substr(1);
  EXPECT_EQ(RunWorker(Switches(withAmpersand, L"-UpdateCheckSilent"), kTimeoutMs), 1u);
}

TEST(SingleInstance, AVisibleSecondInstanceAsksAndNoEndsIt) {
  const std::wstring name = UniqueName(L"Asked");
  RunningInstance running(name, /*visible=*/true);
  ChildProcess second(WorkerExePath(), Switches(name, L"-WindowCaption \"Foo Updates\""));
  ASSERT_TRUE(second.started());
  const auto box = FindMessageBox(second.pid(), kTimeoutMs);
  ASSERT_TRUE(box.has_value());
  // The product's language (German) with the caller's name for the updater.
  const std::wstring question =
      L"Eine andere Sitzung von Foo Updates ist aktiv. M\u00f6chten Sie diese aktive Sitzung automatisch beenden?";
  EXPECT_EQ(box->text, question);
  EXPECT_EQ(box->caption, question);
  EXPECT_TRUE(AnswerMessageBox(*box, IDNO));
  EXPECT_EQ(second.Wait(kTimeoutMs), 1u);
  EXPECT_TRUE(running.Running());
}

TEST(SingleInstance, AStubSharesTheProductEventButNotTheVisibleEvent) {
  const std::wstring name = UniqueName(L"Stub");
  const std::string narrow(name.begin(), name.end());
  ProgramInfos product;
  product.ProgramName = name;
  const ServedProduct served(name, NoUpdateServiceUrl());
  {
    // An updater shows its window. A visible stub looks only for its own
    // window event, so it asks nobody; the shared product event tells it that
    // another instance runs, which it can't end without a recorded process id.
    RunningInstance updater(name, /*visible=*/true);
    ChildProcess stub(WorkerExePath(), Switches(name, L"-IsStubExe"));
    ASSERT_TRUE(stub.started());
    EXPECT_EQ(stub.Wait(kTimeoutMs), 1u);
    EXPECT_TRUE(updater.Running());
    const std::string log = ReadProductLog(name);
    size_t at = 0;
    for (const std::string& line :
         {"Event \"" + narrow + "\" exist!", "Event \"" + narrow + " Stub is visible\" doesn\xb4t exist!",
          std::string("Other programm process is running, but no PID was found.")}) {
      at = log.find(line, at);
      ASSERT_NE(at, std::string::npos) << line << " in order in:\n" << log;
    }
    EXPECT_EQ(log.find(narrow + "  is visible"), std::string::npos) << log;
  }
  {
    // With the updater's process id recorded, the stub takes it for a silent
    // one: it ends it without a question (a question would keep it waiting) and runs.
    ImpostorInstance updater(name, /*visible=*/true);
    ASSERT_TRUE(updater.Running());
    ChildProcess stub(WorkerExePath(), Switches(name, L"-IsStubExe"));
    ASSERT_TRUE(stub.started());
    // Nothing to install: the window waits, and closing it ends with 1.
    EXPECT_EQ(WaitClosingNothingToDo(stub, kTimeoutMs), 1u);
    EXPECT_FALSE(updater.Running());
    EXPECT_EQ(ReadActivePID(product), stub.pid());
  }
  {
    // Only the stub's visible event exists: no product event, so the updater runs.
    RunningInstance strayStubWindowOnly(name + L" Stub is visible", /*visible=*/false);
    EXPECT_EQ(RunWorker(Switches(name, L"-UpdateCheckSilent")), 0u);
  }
}

TEST(SingleInstance, AVisibleEventThatExistsAlreadyIsHeldForTheWholeRun) {
  const std::wstring name = UniqueName(L"HeldVisible");
  const std::wstring visible = name + L"  is visible";
  ProgramInfos info;
  info.ProgramName = name;
  info.DisplayNameForLabels = name;
  info.Language = 1033;
  const RegTreeGuard settings(HKEY_CURRENT_USER, GetProductSettingsKey(info));
  {
    // Another process still holds the visible event, as an instance that is just ending would.
    ChildProcess holder(BinFolder() + L"hold_events.exe", L"\"" + visible + L"\"");
    ASSERT_TRUE(holder.started());
    while (!EventExists(visible) && holder.Running()) ::Sleep(20);
    ASSERT_TRUE(CheckSingleInstance(info, L"", /*isVisible=*/true));
    holder.Kill();
    ASSERT_TRUE(holder.Wait(kTimeoutMs).has_value());
  }
  // This process claimed the product visibly, so both events outlive the other holder.
  EXPECT_TRUE(EventExists(name));
  EXPECT_TRUE(EventExists(visible));
  // A later silent instance therefore sees a visible one and leaves it alone.
  EXPECT_EQ(RunWorker(Switches(name, L"-UpdateCheckSilent"), kTimeoutMs), 1u);
  const std::string log = ReadProductLog(name);
  EXPECT_NE(log.find("I am not visible and an other RenovaWorker exist so i close my self."), std::string::npos) << log;
  EXPECT_EQ(log.find("Try to stop process"), std::string::npos) << log;
}

TEST(SingleInstance, TheEventsEndWithTheProcessThatHeldThem) {
  const std::wstring name = UniqueName(L"Again");
  const ServedProduct served(name, NoUpdateServiceUrl());
  EXPECT_EQ(RunSession(Switches(name)), 0u);
  EXPECT_FALSE(EventExists(name));
  EXPECT_EQ(RunSession(Switches(name)), 0u);
}

TEST(SingleInstance, AnsweringYesEndsTheFirstInstanceByItsRecordedProcessId) {
  const std::wstring name = UniqueName(L"Yes");
  ProgramInfos product;
  product.ProgramName = name;
  const ServedProduct served(name, NoUpdateServiceUrl());
  ImpostorInstance first(name, /*visible=*/true);
  ASSERT_TRUE(first.Running());

  ChildProcess second(WorkerExePath(), Switches(name));
  ASSERT_TRUE(second.started());
  const auto box = FindMessageBox(second.pid(), kTimeoutMs);
  ASSERT_TRUE(box.has_value());
  EXPECT_TRUE(AnswerMessageBox(*box, IDYES));
  EXPECT_EQ(WaitClosingNothingToDo(second, kTimeoutMs), 0u);
  EXPECT_EQ(first.Wait(0), 0u);  // terminated with exit code 0
  EXPECT_EQ(ReadActivePID(product), second.pid());
}

TEST(SingleInstance, ASilentFirstInstanceIsEndedWithoutAQuestion) {
  const std::wstring name = UniqueName(L"Silent");
  ProgramInfos product;
  product.ProgramName = name;
  const ServedProduct served(name, NoUpdateServiceUrl());
  ImpostorInstance first(name, /*visible=*/false);
  ASSERT_TRUE(first.Running());

  EXPECT_EQ(RunWorker(Switches(name, L"-UpdateCheckSilent"), kTimeoutMs), 0u);
  EXPECT_FALSE(first.Running());

  // The takeover in the new instance's log: one first attempt, no retry counted.
  const std::string log = ReadProductLog(name);
  const std::string narrow(name.begin(), name.end());
  size_t at = 0;
  for (const std::string& line :
       {"Event \"" + narrow + "\" exist!", "Event \"" + narrow + "  is visible\" doesn\xb4t exist!",
        std::string("Try to stop process: VLRenovaWorker.exe"), std::string("terminate process: VLRenovaWorker.exe"),
        "SetEvent \"" + narrow + "\" succeeded!"}) {
    at = log.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << " in order in:\n" << log;
  }
  EXPECT_EQ(log.find(" Try\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("ERR: "), std::string::npos) << log;
}

TEST(SingleInstance, WithoutARecordedProcessIdTheOtherInstanceIsKept) {
  const std::wstring name = UniqueName(L"NoPid");
  RunningInstance running(name, /*visible=*/false);
  EXPECT_EQ(RunWorker(Switches(name, L"-UpdateCheckSilent"), kTimeoutMs), 1u);
  EXPECT_TRUE(running.Running());
}
