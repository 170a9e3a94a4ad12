#include "product/cmd_line_info.h"

#include <windows.h>

#include <array>
#include <utility>

#include "product/command_line_splitter.h"
#include "win/path_limit.h"
#include "win/strings.h"

namespace {

using Pending = CmdLineInfo::Pending;

constexpr std::array<std::pair<std::wstring_view, Pending>, 12> kValueSwitches{{
    {L"UpdateIntervalInHours", Pending::UpdateIntervalInHours},
    {L"ProgramName", Pending::ProgramName},
    {L"ProgramVersion", Pending::ProgramVersion},
    {L"Language", Pending::Language},
    {L"InstalledLocation", Pending::InstalledLocation},
    {L"FileList", Pending::FileList},
    {L"InstallDate", Pending::InstallDate},
    {L"WindowRec", Pending::WindowRec},
    {L"WindowCaption", Pending::WindowCaption},
    {L"AffiliateId", Pending::AffiliateId},
    {L"DisplayName", Pending::DisplayName},
    {L"CheckIntervalInHours", Pending::CheckIntervalInHours},
}};

// The flag switches and the field each sets to 1.
std::array<std::pair<std::wstring_view, int32_t*>, 11> FlagSwitches(CmdLineInfo& info) {
  return {{
      {L"IsStubExe", &info.ProgramInfo.IsStubExe},
      {L"QuickCheck", &info.QuickCheck},
      {L"UpdateCheckSilent", &info.UpdateCheckSilent},
      {L"UpdateSilent", &info.UpdateSilent},
      {L"WriteCheckResultToReg", &info.WriteCheckResultToReg},
      {L"HideUpdateCheckResult", &info.HideUpdateCheckResult},
      {L"OnlyDownload", &info.OnlyDownload},
      {L"Tray", &info.Tray},
      {L"OnlyAdViewer", &info.OnlyAdViewer},
      {L"RestartAfterSelfUpdate", &info.RestartAfterSelfUpdate},
      {L"UpdateFromVersionV1", &info.UpdateFromVersionV1},
  }};
}

// The updater's own full path, fetched once per process (at most the path limit).
const std::wstring& OwnModulePath() {
  static const std::wstring path = [] {
    wchar_t buffer[kMaxPathChars] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, kMaxPathChars);
    return std::wstring(buffer, length < kMaxPathChars ? length : kMaxPathChars);
  }();
  return path;
}

bool IsTrimmedBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

std::wstring Trim(std::wstring_view token) {
  while (!token.empty() && IsTrimmedBlank(token.back())) token.remove_suffix(1);
  while (!token.empty() && IsTrimmedBlank(token.front())) token.remove_prefix(1);
  return std::wstring(token);
}

void AppendFileList(std::vector<std::wstring>& list, std::wstring_view value) {
  size_t start = 0;
  while (start <= value.size()) {
    const size_t end = std::min(value.find(L';', start), value.size());
    if (end > start) list.push_back(Trim(value.substr(start, end - start)));
    start = end + 1;
  }
}

}  // namespace

std::wstring NormaliseInstalledLocation(std::wstring_view location) {
  while (!location.empty() && location.back() == L'\\') location.remove_suffix(1);
  std::wstring result(location);
  result += L'\\';
  return result;
}

void CmdLineInfo::ParseParam(std::wstring_view argument, bool /*hadSwitchMark*/, bool /*isLast*/) {
  if (argument == OwnModulePath()) return;

  if (PendingSwitch != Pending::None) {
    const Pending pending = std::exchange(PendingSwitch, Pending::None);
    ProgramInfos& info = ProgramInfo;
    // clang-format off
    switch (pending) {
      case Pending::UpdateIntervalInHours: UpdateIntervalInHours = win::AtoiW(argument); break;
      case Pending::ProgramName:
        if (info.DisplayName.empty()) info.DisplayName = argument;
        info.ProgramName = argument;
        break;
      case Pending::ProgramVersion: info.ProgramVersion = argument; break;
      case Pending::Language: info.Language = win::AtoiW(argument); break;
      case Pending::InstalledLocation: info.InstalledLocation = NormaliseInstalledLocation(argument); break;
      case Pending::FileList: AppendFileList(info.FileList, argument); break;
      case Pending::InstallDate: info.InstallDate = argument; break;
      case Pending::WindowRec: WindowRec = argument; break;
      case Pending::WindowCaption: WindowCaption = argument; break;
      case Pending::AffiliateId: info.AffiliateId = argument; break;
      case Pending::DisplayName: info.DisplayName = argument; break;
      case Pending::CheckIntervalInHours: CheckIntervalInHours = win::AtoiW(argument); break;
      case Pending::None: break;
    }
    // clang-format on
    return;
  }

  for (const auto& [name, pending] : kValueSwitches) {
    if (argument == name) {
      PendingSwitch = pending;
      return;
    }
  }

  for (const auto& [name, field] : FlagSwitches(*this)) {
    if (argument == name) {
      *field = 1;
      if (field == &UpdateFromVersionV1) {
        ProgramInfo.InstalledLocation = NormaliseInstalledLocation(ProgramInfo.InstalledLocation);
      }
      return;
    }
  }
  // Anything else is ignored.
}

void CmdLineInfo::ParseCommandLine(std::wstring_view commandLine) {
  const std::vector<std::wstring> args = SplitCommandLine(commandLine);
  for (size_t i = 1; i < args.size(); ++i) {
    std::wstring_view arg = args[i];
    const bool hadMark = !arg.empty() && (arg.front() == L'-' || arg.front() == L'/');
    if (hadMark) arg.remove_prefix(1);
    ParseParam(arg, hadMark, i + 1 == args.size());
  }
}

std::vector<std::wstring> KnownSwitchNames() {
  std::vector<std::wstring> names;
  for (const auto& entry : kValueSwitches) names.emplace_back(entry.first);
  CmdLineInfo unused;
  for (const auto& entry : FlagSwitches(unused)) names.emplace_back(entry.first);
  return names;
}
