// The features of an installed Windows Installer product and their states.

#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

#include "logfront/log.h"
#include "product/installed_product_sources.h"
#include "win/path_limit.h"

namespace {

// MsiEnumFeaturesW takes no buffer sizes; it writes at most MAX_FEATURE_CHARS + 1
// characters into each, so path-sized buffers leave ample room.
constexpr size_t kFeatureBufferChars = kMaxPathChars;

UINT EnumerateInstalledFeature(const std::wstring& productCode, DWORD index, std::wstring& featureName) {
  wchar_t feature[kFeatureBufferChars] = {};
  wchar_t parent[kFeatureBufferChars] = {};
  const UINT status = ::MsiEnumFeaturesW(productCode.c_str(), index, feature, parent);
  if (status == ERROR_SUCCESS) featureName = feature;
  return status;
}

}  // namespace

bool ReadMsiFeatureList(const std::wstring& productCode, std::vector<MsiFeatureState>& features) {
  return ReadMsiFeatureList(productCode, features, [&productCode](DWORD index, std::wstring& featureName) {
    return EnumerateInstalledFeature(productCode, index, featureName);
  });
}

bool ReadMsiFeatureList(const std::wstring& productCode, std::vector<MsiFeatureState>& features,
                        const MsiFeatureEnumerator& enumerateFeatures) {
  LogInfo(L"start read the MSI-feature list");
  if (productCode.empty() || !enumerateFeatures) return false;

  for (DWORD index = 0;; ++index) {
    std::wstring featureName;
    if (enumerateFeatures(index, featureName) != ERROR_SUCCESS) break;
    const INSTALLSTATE state = ::MsiQueryFeatureStateW(productCode.c_str(), featureName.c_str());
    LogInfo(L"FeatureName: %s\t-> InstallState: %d", featureName.c_str(), static_cast<int>(state));
    features.push_back({featureName, static_cast<int32_t>(state)});
  }
  return true;
}
