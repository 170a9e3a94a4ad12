#include "actions/instruction_document.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "actions/download_action.h"
#include "actions/process_actions.h"
#include "actions/product_actions.h"
#include "actions/registry_actions.h"
#include "logfront/log.h"
#include "product/installed_product_sources.h"
#include "product/program_infos_store.h"
#include "win/strings.h"

namespace {

using tinyxml2::XMLElement;

// The built-in text for kJapaneseLinkTextToken.
constexpr wchar_t kJapaneseLinkText[] = L"アップグレード方法については、こちらを必ず確認してください。";

// The text of the root's first child of that name, when it exists and has text.
std::optional<std::wstring> ChildText(const XMLElement& root, const char* name) {
  const XMLElement* child = root.FirstChildElement(name);
  const char* text = child != nullptr ? child->GetText() : nullptr;
  if (text == nullptr || *text == '\0') return std::nullopt;
  return win::ToWide(text, CP_THREAD_ACP);
}

bool IsTrueText(const std::wstring& text) { return ::_wcsicmp(text.c_str(), L"TRUE") == 0; }

template <typename Action>
std::unique_ptr<ActionBase> Create(const XMLElement& element) {
  auto action = std::make_unique<Action>();
  action->ParseFromXml(element);
  return action;
}

struct ActionMaker {
  const wchar_t* name;
  std::unique_ptr<ActionBase> (*create)(const XMLElement& element);
};

constexpr ActionMaker kPreActionMakers[] = {
    {L"StopProcess", Create<ActionStopProcess>},
    {L"StopService", Create<ActionStopService>},
    {L"DelRegValue", Create<ActionDelRegValue>},
    {L"SetRegValue", Create<ActionSetRegKey>},
};

constexpr ActionMaker kPostActionMakers[] = {
    {L"StartProcess", Create<ActionStartProcess>},
    {L"StartService", Create<ActionStartService>},
    {L"SetRegValue", Create<ActionSetRegKey>},
};

template <size_t N>
void ParseActionList(const XMLElement& list, const ActionMaker (&makers)[N], bool postList, ActionList& actions) {
  for (const XMLElement* child = list.FirstChildElement(); child != nullptr; child = child->NextSiblingElement()) {
    const char* attribute = child->Attribute("Name");
    const std::wstring name = attribute != nullptr ? win::ToWide(attribute, CP_THREAD_ACP) : std::wstring();
    const ActionMaker* maker = nullptr;
    for (const ActionMaker& candidate : makers) {
      if (name == candidate.name) maker = &candidate;
    }
    // A child without a Name is reported the same way, with an empty name.
    if (maker == nullptr) {
      // kept verbatim: "unkown" as the log has always spelt it
      LogError(L"unkown action: %s", name.c_str());
      continue;
    }
    std::unique_ptr<ActionBase> action = maker->create(*child);
    if (postList && action->PostActionCompatible == 0) {
      LogError(L"Action %s is not PostAction compatible!", name.c_str());
      continue;
    }
    LogInfo(L"find and create action: %s", name.c_str());
    actions.push_back(std::move(action));
  }
}

// The main list after the download: the setup run, and the new version for
// the product's uninstall entry when both are known.
void AppendProductActions(const InstructionInfo& info, ActionList& mainActions) {
  const ProgramInfos product = GetProgramInfos();
  if (product.IsStubExe == 1) {
    mainActions.push_back(std::make_unique<ActionProductInstallation>());
  } else {
    auto update = std::make_unique<ActionProductUpdate>();
    update->IsMajorUpgrade = info.IsReInstallModeAMUS;
    update->SuppressReboot = info.SuppressReboot;
    update->Silent = info.UpdateSilent;
    mainActions.push_back(std::move(update));
  }
  if (info.NewProductVersion.empty() || product.UninstallKeyName.empty()) return;
  auto version = std::make_unique<ActionSetRegKey>();
  version->Key = std::wstring(kUninstallKeyPath) + L"\\" + product.UninstallKeyName;
  version->Value = L"DisplayVersion";
  version->Type = L"SZ";
  version->Data = info.NewProductVersion;
  mainActions.push_back(std::move(version));
}

}  // namespace

int32_t LoadInstructionXml(const char* text, ActionList& preActions, ActionList& mainActions, ActionList& postActions,
                           InstructionInfo& info, const CmdLineInfo& options) {
  LogInfo(L"loading Instruction.xml");
  tinyxml2::XMLDocument document;
  if (text == nullptr || document.Parse(text) != tinyxml2::XML_SUCCESS) return kInstructionNotXml;

  LogInfo(L"start parsing Instruction.xml");
  const XMLElement* root = document.RootElement();
  if (root == nullptr) return kInstructionNoRoot;

  ParseGeneralInformations(*root, info);
  info.UpdateSilent = options.UpdateSilent;
  if (info.UpdateId == 0) return kInstructionNothingAvailable;

  if (const XMLElement* pre = root->FirstChildElement("Pre")) ParsePre(*pre, preActions);
  const XMLElement* download = root->FirstChildElement("Download");
  if (download == nullptr) return kInstructionWithoutDownload;
  ParseDownload(*download, mainActions);
  if (options.OnlyDownload == 0) AppendProductActions(info, mainActions);
  if (const XMLElement* post = root->FirstChildElement("Post")) ParsePost(*post, postActions);
  return kInstructionAvailable;
}

int32_t ParseGeneralInformations(const XMLElement& root, InstructionInfo& info) {
  LogInfo(L"parse generell informations");
  info.UpdateId = 0;
  info.HasErrorMessage = 0;
  info.MaxUpdateableProductVersionExistingOnServer.clear();
  info.NewProductVersion.clear();
  info.MajorUpgradeProductUrl.clear();
  info.ChangeLogUrl.clear();
  info.IsReInstallModeAMUS = 0;
  info.SuppressReboot = 0;
  info.UpdateSilent = 0;

  if (const auto message = ChildText(root, "ErrorMessage")) {
    LogError(L"Instruction.xml contains ErrorMessage");
    LogError(L"%s", message->c_str());
    info.HasErrorMessage = 1;
  }
  if (const auto text = ChildText(root, "NewProductVersion")) {
    info.NewProductVersion = *text;
    LogInfo(L"NewProductVersionNode = %s", text->c_str());
  }
  if (const auto text = ChildText(root, "MaxUpdateableProductVersionExistingOnServer")) {
    info.MaxUpdateableProductVersionExistingOnServer = *text;
    // kept verbatim: the element's name with its "U" missing
    LogInfo(L"MaxpdateableProductVersionExistingOnServer = %s", text->c_str());
  }
  if (const auto text = ChildText(root, "ChangeLogUrl")) {
    info.ChangeLogUrl = *text;
    LogInfo(L"ChangeLogUrl = %s", text->c_str());
  }
  if (const auto text = ChildText(root, "MajorUpgradeProductUrl")) {
    info.MajorUpgradeProductUrl = *text;
    LogInfo(L"MajorUpgradeProductURL = %s", text->c_str());
  }
  if (const auto text = ChildText(root, "MajorUpgradeProductLinkText")) {
    info.MajorUpgradeProductLinkText = *text == kJapaneseLinkTextToken ? kJapaneseLinkText : *text;
    LogInfo(L"MajorUpgradeProductLinkText = %s", info.MajorUpgradeProductLinkText.c_str());
  }
  if (const auto text = ChildText(root, "MajorUpgradeProductVersion")) {
    LogInfo(L"MajorUpgradeProductVersion = %s", text->c_str());
    info.MajorUpgradeProductVersion = win::AtoiW(*text);
  }
  if (const auto text = ChildText(root, "SuppressReboot")) {
    LogInfo(L"SuppressReboot = %s", text->c_str());
    info.SuppressReboot = IsTrueText(*text);
  }
  if (const auto text = ChildText(root, "IsReInstallModeAMUS")) {
    LogInfo(L"IsReInstallModeAMUS = %s", text->c_str());
    info.IsReInstallModeAMUS = IsTrueText(*text);
  }
  if (const auto text = ChildText(root, "UpdateId")) {
    LogInfo(L"UpdateId = %s", text->c_str());
    info.UpdateId = win::AtoiW(*text);
  }
  if (const auto text = ChildText(root, "OsNotCompatibleUrl")) {
    info.OsNotCompatibleUrl = *text;
    LogInfo(L"OsNotCompatibleUrl = %s", text->c_str());
  }
  if (const auto text = ChildText(root, "AdViewerUrl")) {
    info.AdViewerUrl = *text;
    LogInfo(L"AdViewerDownloadUrl = %s", text->c_str());
  }
  if (const auto text = ChildText(root, "AdViewerSha256")) info.AdViewerSha256 = *text;
  if (const auto text = ChildText(root, "AdCampaignId")) {
    info.AdCampaignId = *text;
    LogInfo(L"AdCampaignId = %s", text->c_str());
  }
  return 1;
}

int32_t ParseDownload(const XMLElement& download, ActionList& mainActions) {
  LogInfo(L"parse download");
  auto action = std::make_unique<ActionDownload>();
  action->ParseFromXml(download);
  mainActions.push_back(std::move(action));
  return 1;
}

int32_t ParsePre(const XMLElement& pre, ActionList& preActions) {
  LogInfo(L"parse pre");
  ParseActionList(pre, kPreActionMakers, false, preActions);
  return 1;
}

int32_t ParsePost(const XMLElement& post, ActionList& postActions) {
  LogInfo(L"parse post");
  postActions.clear();
  ParseActionList(post, kPostActionMakers, true, postActions);
  return 1;
}
