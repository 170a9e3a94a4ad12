// The instruction's program and service steps on real processes and the real
// service manager.

#include "actions/process_actions.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "product/program_infos_store.h"
#include "support/child_process.h"
#include "support/scratch.h"
#include "win/unique_handle.h"

namespace {

using testing_support::ScratchFolder;

bool IsRunning(const std::wstring& imageName) {
  const win::UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {sizeof entry};
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::_wcsicmp(entry.szExeFile, imageName.c_str()) == 0) return true;
  }
  return false;
}

tinyxml2::XMLElement* Element(tinyxml2::XMLDocument& document, const std::string& fileName) {
  document.Parse(("<A FileName=\"" + fileName + "\"/>").c_str());
  return document.RootElement();
}

TEST(ProcessActions, StartProcessRunsTheProgramOfTheInstallationFolderWithoutWaitingAndStopProcessEndsIt) {
  ScratchFolder folder;
  ProgramInfos product;
  product.ProgramName = L"Process Actions Test";
  SetDisplayName(product, product.ProgramName);
  product.ProgramVersion = L"1.0";
  product.InstalledLocation = folder.path();
  product.Language = 1033;
  ASSERT_TRUE(CompleteProgramInfos(product));

  // A program that runs until it is ended, under a name no other test uses.
  const std::wstring name = testing_support::UniqueName(L"tool") + L".exe";
  ASSERT_TRUE(
      ::CopyFileW((testing_support::BinFolder() + L"hold_events.exe").c_str(), (folder.path() + name).c_str(), FALSE));

  tinyxml2::XMLDocument document;
  ActionStartProcess start;
  start.ParseFromXml(*Element(document, std::string(name.begin(), name.end())));
  EXPECT_EQ(start.FilePath, folder.path() + L"\\" + name);
  ASSERT_EQ(start.Execute(), kActionSucceeded);
  EXPECT_TRUE(IsRunning(name));  // returned while the program still runs

  ActionStopProcess stop;
  stop.ParseFromXml(*Element(document, std::string(name.begin(), name.end())));
  EXPECT_EQ(stop.Execute(), kActionSucceeded);
  EXPECT_FALSE(IsRunning(name));

  ActionStartProcess missing;
  missing.ParseFromXml(*Element(document, "not-there.exe"));
  EXPECT_EQ(missing.Execute(), kActionProcessNotStarted);
}

TEST(ProcessActions, ServiceStepsOfAServiceThatIsNotInstalled) {
  tinyxml2::XMLDocument document;
  const std::string name = "VLRenovaNoSuchService";
  ActionStopService stop;
  stop.ParseFromXml(*Element(document, name));
  EXPECT_EQ(stop.ServiceName, L"VLRenovaNoSuchService");
  EXPECT_EQ(stop.Execute(), kActionSucceeded);  // not installed counts as stopped

  ActionStartService start;
  start.ParseFromXml(*Element(document, name));
  EXPECT_EQ(start.Execute(), kActionServiceFailed);
}

}  // namespace
