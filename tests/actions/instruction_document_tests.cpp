// Instruction.xml into the instruction model and the three action lists.

#include "actions/instruction_document.h"

#include <gtest/gtest.h>

#include <string>

#include "actions/download_action.h"
#include "actions/process_actions.h"
#include "actions/product_actions.h"
#include "actions/registry_actions.h"
#include "product/program_infos_store.h"
#include "support/full_instruction.h"
#include "support/log_capture.h"

namespace {

using testing_support::kFullInstruction;
using testing_support::LogCapture;

constexpr wchar_t kLocation[] = L"C:\\Program Files\\Instruction Test\\";

class InstructionDocument : public ::testing::Test {
 protected:
  void Publish(int32_t isStubExe, const std::wstring& uninstallKeyName) {
    ProgramInfos working;
    working.ProgramName = L"Instruction Test";
    SetDisplayName(working, working.ProgramName);
    working.ProgramVersion = L"1.0";
    working.InstalledLocation = kLocation;
    working.Language = 1033;
    working.IsStubExe = isStubExe;
    working.UninstallKeyName = uninstallKeyName;
    ASSERT_TRUE(CompleteProgramInfos(working));
  }
  void SetUp() override { Publish(0, L"{INSTRUCTION-TEST}"); }

  int32_t Load(const std::string& text) {
    return LoadInstructionXml(text.c_str(), pre_, main_, post_, info_, options_);
  }

  template <typename T>
  T* As(const ActionList& list, size_t index) {
    return index < list.size() ? dynamic_cast<T*>(list[index].get()) : nullptr;
  }

  ActionList pre_, main_, post_;
  InstructionInfo info_;
  CmdLineInfo options_;
};

TEST_F(InstructionDocument, AFullOfferFillsEveryFieldAndTheThreeLists) {
  options_.UpdateSilent = 1;
  LogCapture log;
  ASSERT_EQ(Load(kFullInstruction), kInstructionAvailable);

  EXPECT_EQ(info_.UpdateId, 42);
  EXPECT_EQ(info_.HasErrorMessage, 1);
  EXPECT_EQ(info_.NewProductVersion, L"2.0.0");
  EXPECT_EQ(info_.MaxUpdateableProductVersionExistingOnServer, L"1.9");
  EXPECT_EQ(info_.ChangeLogUrl, L"https://host.example/log?a=1&b=2");
  EXPECT_EQ(info_.MajorUpgradeProductUrl, L"https://host.example/major");
  EXPECT_EQ(info_.MajorUpgradeProductLinkText, L"Read this");
  EXPECT_EQ(info_.MajorUpgradeProductVersion, 3);
  EXPECT_EQ(info_.SuppressReboot, 1);
  EXPECT_EQ(info_.IsReInstallModeAMUS, 1);
  EXPECT_EQ(info_.UpdateSilent, 1);
  EXPECT_EQ(info_.OsNotCompatibleUrl, L"https://host.example/os");
  EXPECT_EQ(info_.AdViewerUrl, L"https://host.example/ad.exe");
  EXPECT_EQ(info_.AdCampaignId, L"camp-9");

  ASSERT_EQ(pre_.size(), 4u);
  ASSERT_NE(As<ActionStopProcess>(pre_, 0), nullptr);
  EXPECT_EQ(As<ActionStopProcess>(pre_, 0)->FileName, L"Tool.exe");
  EXPECT_EQ(As<ActionStopService>(pre_, 1)->ServiceName, L"ToolService");
  EXPECT_EQ(As<ActionDelRegValue>(pre_, 2)->Value, L"Old");
  EXPECT_EQ(As<ActionSetRegKey>(pre_, 3)->Data, L"2");
  const int32_t preTypes[] = {kActionStopProcess, kActionStopService, kActionDelRegValue, kActionSetRegKey};
  for (size_t i = 0; i < pre_.size(); ++i) EXPECT_EQ(pre_[i]->ActionType, preTypes[i]);

  ASSERT_EQ(main_.size(), 3u);
  const ActionDownload* download = As<ActionDownload>(main_, 0);
  ASSERT_NE(download, nullptr);
  ASSERT_EQ(download->Files.size(), 2u);
  EXPECT_EQ(download->Files[1].Url, L"https://host.example/data.cab");
  EXPECT_EQ(download->Files[1].RelativeTargetFolder, L"sub\\dir");
  EXPECT_EQ(download->Files[1].FileName, L"data.cab");
  const ActionProductUpdate* update = As<ActionProductUpdate>(main_, 1);
  ASSERT_NE(update, nullptr);
  EXPECT_EQ(update->IsMajorUpgrade, 1);
  EXPECT_EQ(update->SuppressReboot, 1);
  EXPECT_EQ(update->Silent, 1);
  const ActionSetRegKey* version = As<ActionSetRegKey>(main_, 2);
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->Key, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{INSTRUCTION-TEST}");
  EXPECT_EQ(version->Value, L"DisplayVersion");
  EXPECT_EQ(version->Type, L"SZ");
  EXPECT_EQ(version->Data, L"2.0.0");

  ASSERT_EQ(post_.size(), 3u);
  EXPECT_EQ(As<ActionStartProcess>(post_, 0)->FilePath, std::wstring(kLocation) + L"\\Tool.exe");
  EXPECT_EQ(As<ActionStartService>(post_, 1)->ServiceName, L"ToolService");
  EXPECT_EQ(As<ActionSetRegKey>(post_, 2)->PostInstallationActionCompatible, 1);
  for (const auto& action : post_) EXPECT_EQ(action->PostActionCompatible, 1);

  EXPECT_EQ(log.CountAt(L"ERR", L"Instruction.xml contains ErrorMessage"), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"Server says no"), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"unkown action: StartProcess"), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"unkown action: StopService"), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"find and create action: "), 7u);
  EXPECT_EQ(log.CountAt(L"INF", L"UpdateId =   +42x"), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"MaxpdateableProductVersionExistingOnServer = 1.9"), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"AdViewerDownloadUrl = https://host.example/ad.exe"), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"add relativTagetPath: sub\\dir"), 1u);
}

TEST_F(InstructionDocument, NothingOfferedReadsOnlyTheGeneralPart) {
  pre_.push_back(std::make_unique<ActionStopProcess>());
  for (const char* id : {"0", "", "abc", "-0"}) {
    const std::string text = std::string("<I><UpdateId>") + id +
                             "</UpdateId><NewProductVersion>2</NewProductVersion>"
                             "<Pre><A Name=\"StopProcess\" FileName=\"x\"/></Pre><Download><F Url=\"u\"/></Download>"
                             "<Post><A Name=\"StartService\" FileName=\"s\"/></Post></I>";
    EXPECT_EQ(Load(text), kInstructionNothingAvailable) << id;
    EXPECT_EQ(info_.NewProductVersion, L"2");
  }
  EXPECT_EQ(pre_.size(), 1u);
  EXPECT_TRUE(main_.empty());
  EXPECT_TRUE(post_.empty());
}

TEST_F(InstructionDocument, AnOfferWithoutDownloadKeepsOnlyThePreActions) {
  post_.push_back(std::make_unique<ActionStartService>());
  EXPECT_EQ(Load("<I><UpdateId>5</UpdateId><Pre><A Name=\"StopProcess\" FileName=\"a.exe\"/>"
                 "<A Name=\"StopService\" FileName=\"svc\"/></Pre><Post/></I>"),
            kInstructionWithoutDownload);
  EXPECT_EQ(pre_.size(), 2u);
  EXPECT_TRUE(main_.empty());
  EXPECT_EQ(post_.size(), 1u);  // the Post element is not read without a download
}

TEST_F(InstructionDocument, FlagsAreTrueOnlyForTrueInAnyCase) {
  const std::pair<const char*, int32_t> cases[] = {{"true", 1}, {"True", 1},  {"TRUE", 1}, {"yes", 0},
                                                   {"1", 0},    {" true", 0}, {"truex", 0}};
  for (const auto& [text, flag] : cases) {
    const std::string xml = std::string("<I><SuppressReboot>") + text + "</SuppressReboot><IsReInstallModeAMUS>" +
                            text + "</IsReInstallModeAMUS></I>";
    Load(xml);
    EXPECT_EQ(info_.SuppressReboot, flag) << text;
    EXPECT_EQ(info_.IsReInstallModeAMUS, flag) << text;
  }
}

TEST_F(InstructionDocument, OnlyTheExactTokenSelectsTheJapaneseLinkText) {
  Load("<I><MajorUpgradeProductLinkText>KARVO_P_11</MajorUpgradeProductLinkText></I>");
  EXPECT_EQ(info_.MajorUpgradeProductLinkText, L"アップグレード方法については、こちらを必ず確認してください。");
  Load("<I><MajorUpgradeProductLinkText>karvo_p_11</MajorUpgradeProductLinkText></I>");
  EXPECT_EQ(info_.MajorUpgradeProductLinkText, L"karvo_p_11");
}

TEST_F(InstructionDocument, ResetFieldsStartAfreshAndTheOthersAreKept) {
  ASSERT_EQ(Load(kFullInstruction), kInstructionAvailable);
  ASSERT_EQ(Load("<Other><UpdateId>9</UpdateId><Download/></Other>"), kInstructionAvailable);
  EXPECT_EQ(info_.UpdateId, 9);
  EXPECT_EQ(info_.HasErrorMessage, 0);
  EXPECT_TRUE(info_.NewProductVersion.empty());
  EXPECT_TRUE(info_.MaxUpdateableProductVersionExistingOnServer.empty());
  EXPECT_TRUE(info_.ChangeLogUrl.empty());
  EXPECT_TRUE(info_.MajorUpgradeProductUrl.empty());
  EXPECT_EQ(info_.SuppressReboot, 0);
  EXPECT_EQ(info_.IsReInstallModeAMUS, 0);
  EXPECT_EQ(info_.UpdateSilent, 0);
  EXPECT_EQ(info_.MajorUpgradeProductLinkText, L"Read this");
  EXPECT_EQ(info_.MajorUpgradeProductVersion, 3);
  EXPECT_EQ(info_.OsNotCompatibleUrl, L"https://host.example/os");
  EXPECT_EQ(info_.AdViewerUrl, L"https://host.example/ad.exe");
  EXPECT_EQ(info_.AdCampaignId, L"camp-9");
  // Pre and main lists grow; the Post list is kept without a new Post element.
  EXPECT_EQ(pre_.size(), 4u);
  EXPECT_EQ(main_.size(), 3u + 2u);  // no new version this time: no uninstall-entry action
  EXPECT_EQ(post_.size(), 3u);

  ASSERT_EQ(Load("<I><UpdateId>9</UpdateId><Download/><Post><A Name=\"StartService\" FileName=\"s\"/></Post>"
                 "<Post><A Name=\"StartService\" FileName=\"t\"/><A Name=\"StartService\" FileName=\"u\"/></Post></I>"),
            kInstructionAvailable);
  ASSERT_EQ(post_.size(), 1u);  // rebuilt from the first Post element only
  EXPECT_EQ(As<ActionStartService>(post_, 0)->ServiceName, L"s");
}

TEST_F(InstructionDocument, OnlyDownloadLeavesTheDownloadAlone) {
  options_.OnlyDownload = 1;
  ASSERT_EQ(Load(kFullInstruction), kInstructionAvailable);
  ASSERT_EQ(main_.size(), 1u);
  EXPECT_NE(As<ActionDownload>(main_, 0), nullptr);
}

TEST_F(InstructionDocument, InstallationModeRunsTheInstallationAndRecordsTheVersionOnlyWhenBothAreKnown) {
  Publish(1, L"{STUB-KEY}");
  ASSERT_EQ(Load("<I><UpdateId>1</UpdateId><NewProductVersion>5.0</NewProductVersion><Download/></I>"),
            kInstructionAvailable);
  ASSERT_EQ(main_.size(), 3u);
  EXPECT_NE(As<ActionProductInstallation>(main_, 1), nullptr);
  EXPECT_EQ(main_[1]->ActionType, kActionProductInstallation);
  EXPECT_NE(As<ActionSetRegKey>(main_, 2), nullptr);

  main_.clear();
  ASSERT_EQ(Load("<I><UpdateId>1</UpdateId><Download/></I>"), kInstructionAvailable);
  EXPECT_EQ(main_.size(), 2u);

  Publish(1, L"");
  main_.clear();
  ASSERT_EQ(Load("<I><UpdateId>1</UpdateId><NewProductVersion>5.0</NewProductVersion><Download/></I>"),
            kInstructionAvailable);
  EXPECT_EQ(main_.size(), 2u);
}

TEST_F(InstructionDocument, MalformedTextsChangeNothing) {
  info_.NewProductVersion = L"kept";
  info_.UpdateId = 77;
  std::string deep;
  for (int i = 0; i < 200; ++i) deep += "<d>";
  for (int i = 0; i < 200; ++i) deep += "</d>";
  const std::pair<std::string, int32_t> cases[] = {
      {"No update available!", kInstructionNotXml},
      {"", kInstructionNotXml},
      {"<I><UpdateId>1</UpdateId>", kInstructionNotXml},
      {"<I><A Name=\"x\" Name=\"y\"/></I>", kInstructionNotXml},  // a repeated attribute is not XML
      {deep, kInstructionNotXml},
      {"<!-- no element -->", kInstructionNoRoot},
  };
  for (const auto& [text, result] : cases) {
    EXPECT_EQ(Load(text), result) << text;
    EXPECT_EQ(info_.NewProductVersion, L"kept");
    EXPECT_EQ(info_.UpdateId, 77);
  }
  EXPECT_EQ(LoadInstructionXml(nullptr, pre_, main_, post_, info_, options_), kInstructionNotXml);
  // The text ends at its first NUL, here inside the document.
  const char withNul[] = "<I><UpdateId>1\0</UpdateId><Download/></I>";
  EXPECT_EQ(LoadInstructionXml(withNul, pre_, main_, post_, info_, options_), kInstructionNotXml);
  EXPECT_TRUE(pre_.empty() && main_.empty() && post_.empty());
}

TEST_F(InstructionDocument, HostileButValidDocumentsAreReadAsFarAsTheyMakeSense) {
  std::string many =
      "<Whatever xmlns=\"urn:x\"><Unknown a=\"1\"><UpdateId>99</UpdateId></Unknown>"
      "<UpdateId>3</UpdateId><UpdateId>4</UpdateId><Pre>";
  for (int i = 0; i < 10000; ++i) many += "<A Name=\"StopProcess\" FileName=\"p" + std::to_string(i) + ".exe\"/>";
  many += "<A FileName=\"no name\"/><A Name=\"\"/><Junk>text</Junk></Pre><Download><File/></Download>";
  many += "<Post><A Name=\"SetRegValue\" Data=\"" + std::string(1024 * 1024, 'x') + "\"/></Post></Whatever>";

  LogCapture log;
  ASSERT_EQ(Load(many), kInstructionAvailable);
  EXPECT_EQ(info_.UpdateId, 3);  // the first element of a name counts
  EXPECT_EQ(pre_.size(), 10000u);
  EXPECT_EQ(As<ActionStopProcess>(pre_, 9999)->FileName, L"p9999.exe");
  // Children without a usable Name are skipped and reported with what name they had.
  EXPECT_EQ(log.CountAt(L"ERR", L"unkown action: "), 3u);
  const ActionDownload* download = As<ActionDownload>(main_, 0);
  ASSERT_NE(download, nullptr);
  ASSERT_EQ(download->Files.size(), 1u);
  EXPECT_TRUE(download->Files[0].Url.empty() && download->Files[0].FileName.empty());
  ASSERT_EQ(post_.size(), 1u);
  const ActionSetRegKey* setter = As<ActionSetRegKey>(post_, 0);
  EXPECT_EQ(setter->Data.size(), 1024u * 1024u);
  EXPECT_TRUE(setter->Key.empty() && setter->Type.empty());
}

}  // namespace
