#include "actions/installer_command.h"

#include <msi.h>

#include <iterator>

#include "win/strings.h"

namespace {

struct FeatureProperty {
  const wchar_t* name;
  int32_t state;
};

constexpr FeatureProperty kFeatureProperties[] = {
    {L"ADDSOURCE", INSTALLSTATE_SOURCE},
    {L"REMOVE", INSTALLSTATE_ABSENT},
    {L"ADVERTISE", INSTALLSTATE_ADVERTISED},
};

}  // namespace

std::wstring FeatureProperties(const std::vector<MsiFeatureState>& features) {
  if (features.empty()) return {};
  // Features installed locally are covered by ADDLOCAL=ALL.
  std::wstring text = L"ADDLOCAL=ALL";
  for (const FeatureProperty& property : kFeatureProperties) {
    std::wstring names;
    for (const MsiFeatureState& feature : features) {
      if (feature.InstallState != property.state || feature.FeatureName.empty()) continue;
      if (!names.empty()) names += L',';
      names += feature.FeatureName;
    }
    if (!names.empty()) text += win::FormatW(L" %s=%s", property.name, names.c_str());
  }
  return text;
}

std::wstring UpdateCommandLine(const std::wstring& cacheFolder, const std::wstring& uiSwitch,
                               const std::wstring& properties, const std::wstring& installedLocation) {
  return win::FormatW(L"\"%s\\Setup.exe\" /s /NoSetupFromWeb /v\"%s %s INSTALLDIR=\\\"%s\\\\\"\"", cacheFolder.c_str(),
                      uiSwitch.c_str(), properties.c_str(), installedLocation.c_str());
}

std::wstring WithoutSetupFromWeb(std::wstring commandLine) {
  static constexpr std::wstring_view kSwitch = L"/NoSetupFromWeb ";
  for (size_t at = commandLine.find(kSwitch); at != std::wstring::npos; at = commandLine.find(kSwitch, at)) {
    commandLine.erase(at, kSwitch.size());
  }
  return commandLine;
}
