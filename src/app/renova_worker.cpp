#include "app/renova_worker.h"

#include <wininet.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "actions/download_action.h"
#include "actions/download_callback.h"
#include "actions/instruction_document.h"
#include "actions/product_actions.h"
#include "logfront/log.h"
#include "product/product_folders.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "protocol/answer_text.h"
#include "protocol/client_status.h"
#include "protocol/signed_answer.h"
#include "protocol/update_status_report.h"
#include "protocol/utc_time.h"
#include "protocol/version_order.h"
#include "protocol/web_service.h"
#include "system/error_text.h"
#include "texts/text_table.h"
#include "ui/ad_viewer.h"
#include "win/strings.h"

namespace {

// The service's whole answer when nothing is offered; it is not an instruction.
constexpr wchar_t kNoUpdateAnswer[] = L"No update available!";
constexpr UINT kLatin1CodePage = 28591;

// What the WriteCheckResultToReg switch leaves for the product, by check result.
// Results without a row leave nothing.
struct CheckResultRow {
  UpdateResult result;
  DWORD value;        // "UpdateResult": 1 only when an update is available
  TextId text;        // "UpdateResultString", in the product's language
  bool namesUpdater;  // the text names the updater, which a WindowCaption replaces
};

constexpr std::array<CheckResultRow, 7> kCheckResultRows = {{
    {RESULT_NO_UPDATE, 0, kTextAlreadyUpToDate, false},
    {RESULT_UPGRADE_ONLY, 0, kTextAlreadyUpToDate, false},
    {RESULT_NO_INSTALLATION, 0, kTextInstallationNotAvailable, false},
    {RESULT_UPDATE_AVAILABLE, 1, kTextUpdateAvailable, false},
    {RESULT_UPDATE_AND_UPGRADE, 1, kTextUpdateAvailable, false},
    {RESULT_SERVER_NOT_REACHABLE, 0, kTextServerMaintenance, false},
    {RESULT_SERVER_ERROR, 0, kTextUpdaterError, true},
}};

// A result written twice would make the first row win silently; a value of 1
// for anything but an offer would tell the product to update for nothing.
constexpr bool RowsAreConsistent(const std::array<CheckResultRow, 7>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    for (size_t j = i + 1; j < rows.size(); ++j) {
      if (rows[i].result == rows[j].result) return false;
    }
    const bool offer = rows[i].result == RESULT_UPDATE_AVAILABLE || rows[i].result == RESULT_UPDATE_AND_UPGRADE;
    if (rows[i].value != (offer ? 1u : 0u)) return false;
  }
  return true;
}
static_assert(RowsAreConsistent(kCheckResultRows), "each check result has one row, and only offers write 1");

void WriteCheckResultToReg(const ProgramInfos& infos, const CmdLineInfo& options, int32_t updateResult) {
  for (const CheckResultRow& row : kCheckResultRows) {
    if (row.result != updateResult) continue;
    std::wstring text = GetText(row.text, infos.Language);
    if (row.namesUpdater) text = ReplaceUpdaterName(std::move(text), options.WindowCaption, infos.Language);
    WriteUpdateResult(infos, row.value, text);
    return;
  }
}

// A worker that start-up has not given its switches yet runs as if none were set.
const CmdLineInfo& OptionsOf(const CmdLineInfo* cmdLine) {
  static const CmdLineInfo kNoSwitches;
  return cmdLine != nullptr ? *cmdLine : kNoSwitches;
}

// An offer of a version older than the one installed. Without either
// version there is nothing to compare: a first installation has none.
bool IsDowngrade(const std::wstring& offered, const std::wstring& installed) {
  return !offered.empty() && !installed.empty() && CompareVersions(offered, installed) < 0;
}

// Every download of a signed instruction must name its digest, and only the
// files so checked are run or copied.
void RequireVerifiedFiles(ActionList& mainActions) {
  for (const std::unique_ptr<ActionBase>& action : mainActions) {
    switch (action->ActionType) {
      case kActionDownload:
        static_cast<ActionDownload&>(*action).DigestsRequired = true;
        break;
      case kActionProductUpdate:
        static_cast<ActionProductUpdate&>(*action).VerifiedFilesOnly = true;
        break;
      case kActionProductInstallation:
        static_cast<ActionProductInstallation&>(*action).VerifiedFilesOnly = true;
        break;
      default:
        break;
    }
  }
}

// The product name the request carried, as the service read it: the request
// document's text is Latin-1 (or plain ASCII).
std::wstring RequestedProgramName(const tinyxml2::XMLDocument& request) {
  const tinyxml2::XMLElement* root = request.RootElement();
  for (const tinyxml2::XMLElement* element = root != nullptr ? root->FirstChildElement() : nullptr; element != nullptr;
       element = element->NextSiblingElement()) {
    const tinyxml2::XMLElement* name =
        std::string_view(element->Name()) == "ProgramName" ? element : element->FirstChildElement("ProgramName");
    if (name != nullptr && name->GetText() != nullptr) return win::ToWide(name->GetText(), kLatin1CodePage);
  }
  return {};
}

// Takes the first action off the list and destroys it.
void DropFirst(ActionList& actions) { actions.erase(actions.begin()); }

}  // namespace

RenovaWorker::RenovaWorker() : BuildRequest(CreateClientStatusXml), QueryConnectedState(::InternetGetConnectedState) {}

WorkerResult RenovaWorker::CheckForUpdate() {
  const ProgramInfos infos = GetProgramInfos();
  const CmdLineInfo& options = OptionsOf(CmdLine);

  int32_t errorCode = 0;
  std::unique_ptr<tinyxml2::XMLDocument> request =
      BuildRequest(infos, options.UpdateCheckSilent != 0, options.Tray != 0, &errorCode);
  if (!request) {
    LogError(L"Failed building ClientStatus (%d)", errorCode);
    return {RESULT_REQUEST_NOT_BUILT, 0};
  }

  const WorkerResult result = CheckWithRequest(*request, infos, options);
  request.reset();

  if (options.WriteCheckResultToReg != 0) WriteCheckResultToReg(infos, options, result.UpdateResult);
  return result;
}

WorkerResult RenovaWorker::CheckWithRequest(const tinyxml2::XMLDocument& request, const ProgramInfos& infos,
                                            const CmdLineInfo& options) {
  std::wstring answer;
  const unsigned postResult = PostToWebService(kClientStatusArgument, request, kGetClientUpdateMethod, answer);
  std::string text;
  AnswerSignature signature;
  ExtractAnswerText(answer, text, signature);

  if (postResult != 0) {
    // kept verbatim: names the code of an earlier version
    LogError(L"result != S_OK");
    DWORD flags = 0;
    if (QueryConnectedState(&flags, 0)) {
      WriteLastUpdateCheckNow(infos);
      return {RESULT_SERVER_NOT_REACHABLE, 0};
    }
    return {RESULT_OFFLINE, 0};
  }

  LogInfo(L"Server response = %s", answer.c_str());
  if (text.empty()) {
    // kept verbatim: names the variable of an earlier version
    LogError(L"Length of responseString = 0");
    WriteLastUpdateCheckNow(infos);
    return {RESULT_SERVER_NOT_REACHABLE, 0};
  }

  bool offer = false;
  const bool signedOnly = !InstructionKeys.empty();
  // With keys even "nothing new" must be signed: an unsigned one would let
  // anyone on the way hold back every update for as long as they like.
  if (signedOnly || win::ToWide(text, CP_THREAD_ACP) != kNoUpdateAnswer) {
    // Nothing of an answer the vendor did not sign is read, let alone run.
    if (signedOnly && !AcceptSignedAnswer(text, signature, InstructionKeys, UtcNow(), RequestedProgramName(request))) {
      WriteLastUpdateCheckNow(infos);
      return {RESULT_SERVER_NOT_REACHABLE, 0};
    }
    const int32_t parseResult =
        LoadInstructionXml(text.c_str(), PreActions, MainActions, PostActions, Instruction, options);
    LogInfo(L"Load and Read Instruction.xml end with result code: %d", parseResult);
    if (parseResult == kInstructionNotXml || parseResult == kInstructionNoRoot) {
      // A damaged instruction is no offer: the parser has left everything as
      // it was, so any error flag would be an earlier answer's.
      LogError(L"The instruction in the server's answer can't be read (%d)", parseResult);
      WriteLastUpdateCheckNow(infos);
      return {RESULT_SERVER_NOT_REACHABLE, 0};
    }
    offer = parseResult != kInstructionNothingAvailable || Instruction.HasErrorMessage != 0;
    if (signedOnly && parseResult != kInstructionNothingAvailable) {
      // An old signed offer, sent again, must not take the product back.
      if (IsDowngrade(Instruction.NewProductVersion, infos.ProgramVersion)) {
        LogError(L"The instruction offers version %s, older than the installed %s; the offer is refused",
                 Instruction.NewProductVersion.c_str(), infos.ProgramVersion.c_str());
        DropInstruction();
        WriteLastUpdateCheckNow(infos);
        return {RESULT_SERVER_NOT_REACHABLE, 0};
      }
      RequireVerifiedFiles(MainActions);
    }
  }

  WorkerResult result;
  const bool installationMode = infos.IsStubExe == 1;
  if (!offer) {
    if (!Instruction.OsNotCompatibleUrl.empty()) {
      result.UpdateResult = RESULT_OS_NOT_SUPPORTED;
    } else if (installationMode) {
      LogInfo(L"No installation available!");
      result.UpdateResult = RESULT_NO_INSTALLATION;
    } else {
      LogInfo(L"No update available!");
      WriteLastUpdateCheckNow(infos);
      result.UpdateResult = Instruction.MajorUpgradeProductVersion != 0 ? RESULT_UPGRADE_ONLY : RESULT_NO_UPDATE;
    }
  } else {
    result.UpdateId = Instruction.UpdateId;
    if (Instruction.HasErrorMessage == 1) {
      // kept verbatim: "Mesage" and the trailing blank are what log readers search for
      LogError(L"ResponseString contains ServerErrorMesage! ");
      WriteLastUpdateCheckNow(infos);
      result.UpdateResult = RESULT_SERVER_ERROR;
    } else if (installationMode) {
      LogInfo(L"Program installation is available!");
      result.UpdateResult = RESULT_INSTALLATION_AVAILABLE;
    } else {
      LogInfo(L"Program update is available!");
      WriteLastUpdateCheckNow(infos);
      result.UpdateResult =
          Instruction.MajorUpgradeProductVersion != 0 ? RESULT_UPDATE_AND_UPGRADE : RESULT_UPDATE_AVAILABLE;
    }
  }

  // Advertising never comes with a session whose result the product itself
  // takes or that shows nothing.
  const bool quietSession = options.WriteCheckResultToReg != 0 || options.HideUpdateCheckResult != 0 ||
                            options.OnlyDownload != 0 || options.QuickCheck != 0;
  if (!quietSession && !Instruction.AdCampaignId.empty()) {
    if (signedOnly && Instruction.AdViewerSha256.empty()) {
      LogError(L"The ad viewer is not started: the signed instruction gives no SHA-256 for it");
    } else {
      if (!Instruction.AdViewerUrl.empty()) DownloadAdViewer(Instruction.AdViewerUrl);
      StartAdViewer(Instruction.AdCampaignId,
                    signedOnly ? std::optional<std::wstring>(Instruction.AdViewerSha256) : std::nullopt);
    }
  }
  return result;
}

WorkerResult RenovaWorker::RunInstallation(DownloadCallback* downloadCallback) {
  const int32_t updateId = Instruction.UpdateId;

  while (!PreActions.empty()) {
    ActionBase& action = *PreActions.front();
    if (action.Execute() != kActionSucceeded) {
      StartUpdateStatusReport(action.ActionType, updateId);
      return {RESULT_ACTION_FAILED, updateId};
    }
    DropFirst(PreActions);
  }

  while (!MainActions.empty()) {
    ActionBase& action = *MainActions.front();
    if (action.ActionType == kActionDownload) action.Callback = downloadCallback;
    action.Progress = downloadCallback != nullptr ? downloadCallback->Progress() : nullptr;
    const int32_t result = action.Execute();
    if (result == kActionSucceeded) {
      DropFirst(MainActions);
      continue;
    }
    if (result == kActionCancelled) return {RESULT_CANCELED, updateId};  // the user knows; nothing to report
    if (result == kActionDownloadFailed) {
      StartUpdateStatusReport(kActionDownload, updateId);
      return {RESULT_DOWNLOAD_FAILED, updateId};
    }
    StartUpdateStatusReport(action.ActionType, updateId);
    return {RESULT_ACTION_FAILED, updateId};
  }

  const ProgramInfos infos = GetProgramInfos();
  RemoveEmptyCacheFolder(infos);
  if (infos.IsStubExe == 1) RunPostActions();
  return {RESULT_RUN_DONE, updateId};
}

void RenovaWorker::DropInstruction() {
  PreActions.clear();
  MainActions.clear();
  PostActions.clear();
  Instruction = InstructionInfo{};
}

void RenovaWorker::RemoveEmptyCacheFolder(const ProgramInfos& infos) {
  const std::optional<std::wstring> cache = GetDownloadCacheFolder(infos);
  if (!cache) return;  // logged; there is nothing to remove
  const std::wstring folder = cache->substr(0, cache->size() - 1);
  // Only an empty folder goes: the downloaded files stay until the next
  // download clears the folder itself.
  if (::RemoveDirectoryW(folder.c_str())) {
    LogInfo(L"Delete folder successful");
    return;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    LogInfo(L"Delete folder successful");
    return;
  }
  LogError(L"Cannot delete directory %s because: \"%s\"", folder.c_str(), GetErrorText(error).c_str());
}

void RenovaWorker::RunPostActions() {
  const bool installationMode = GetProgramInfos().IsStubExe == 1;
  while (!PostActions.empty()) {
    ActionBase& action = *PostActions.front();
    // After a fresh installation only the actions meant for it run; the
    // others are dropped unrun.
    if (!installationMode || action.PostInstallationActionCompatible != 0) action.Execute();
    DropFirst(PostActions);
  }
}
