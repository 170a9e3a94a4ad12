#include "product/program_infos_store.h"

#include <windows.h>

#include <memory>

#include "logfront/log.h"
#include "product/installed_product_sources.h"
#include "product/product_files.h"
#include "product/product_naming.h"
#include "system/file_system.h"
#include "system/module_path.h"
#include "system/registry.h"
#include "texts/text_table.h"
#include "win/path_limit.h"
#include "win/unique_handle.h"

namespace {

constexpr DWORD kLockTimeoutMs = 30000;
constexpr wchar_t kSafekeepName[] = L"Velbor Safekeep";
constexpr wchar_t kSafekeepEditionKey[] = L"SOFTWARE\\Velbor\\Velbor Safekeep\\{3A1F6C20-5B7E-4D9A-8C31-0E2B7D45A9F6}";
constexpr wchar_t kSafekeepEditionValue[] = L"InstalledProductEdition";
constexpr wchar_t kProductExeName[] = L"vlrenova.exe";
// The edition value is read as the updater always held it: in a path-sized buffer.
constexpr size_t kMaxValueChars = kMaxPathChars;

// The record and its lock. A mutex rather than a critical section because it
// must be recursive for its owner and every wait is limited.
struct Store {
  win::UniqueMutex lock{::CreateMutexW(nullptr, FALSE, nullptr)};
  std::unique_ptr<ProgramInfos> current;
};

// Never destroyed: threads that outlive main (status reports, a worker the
// user walked away from) may still read the record while the process ends.
Store& TheStore() {
  static Store& store = *new Store;
  return store;
}

class StoreLock {
 public:
  StoreLock() : mutex_(TheStore().lock.get()) {
    const DWORD wait = ::WaitForSingleObject(mutex_, kLockTimeoutMs);
    owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  ~StoreLock() {
    if (owned_) ::ReleaseMutex(mutex_);
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool owned() const { return owned_; }

 private:
  HANDLE mutex_;
  bool owned_ = false;
};

// The installed-product sources in their order; false when none knows the product,
// which then gets the "Unknown" names.
bool ReadFromSystemSources(ProgramInfos& info) {
  if (ReadVersionInfoTxt(info)) return true;
  if (ReadFromRegistry(info)) return true;
  LogError(L"ReadFromRegistry failed");
  if (ReadFromMsiDB(info)) return true;
  LogError(L"ReadFromMsiDB failed");
  if (ReadFromWin32_Products(info)) return true;
  LogError(L"ReadFromWin32_Products failed");
  const std::wstring unknown = GetText(kTextUnknown, info.Language);
  info.ProgramName = unknown;
  SetDisplayName(info, unknown);
  return false;
}

// The install date, when nobody gave one, is the date of the product's program
// file, else of the updater's file in the product folder.
void CompleteInstallDate(ProgramInfos& info) {
  if (!info.InstallDate.empty()) return;
  if (GetFileDate(info.InstalledLocation + kProductExeName, info.InstallDate)) return;
  std::wstring ownName;
  if (GetModuleName(ownName)) GetFileDate(info.InstalledLocation + ownName, info.InstallDate);
}

// The maker's backup product names its installed edition in the registry.
bool AppendSafekeepEdition(ProgramInfos& info) {
  if (info.ProgramName != kSafekeepName || (info.ProgramVersion != L"4.10.11" && info.ProgramVersion != L"4.10.16")) {
    return true;
  }
  const win::UniqueRegKey key = OpenRegKey(HKEY_LOCAL_MACHINE, kSafekeepEditionKey);
  if (!key) {
    LogError(L"Can\u00b4t open RegKey: %s", kSafekeepEditionKey);
    return false;
  }
  // A missing edition adds nothing rather than a stray blank.
  std::wstring edition = ReadRegString(key.get(), kSafekeepEditionValue).value_or(L"");
  if (edition.size() > kMaxValueChars) edition.resize(kMaxValueChars);
  if (!edition.empty()) {
    info.DisplayName += L" " + edition;
    info.ProgramName += L" " + edition;
  }
  return true;
}

}  // namespace

bool CompleteProgramInfos(ProgramInfos& working) {
  StoreLock lock;
  if (!lock.owned()) return false;
  Store& store = TheStore();

  const bool markedPreview = RemovePreviewSuffix(working);

  if (working.IsStubExe == 1) {
    SetDisplayName(working, working.DisplayName);
    working.InstalledLocation.clear();  // not installed yet
  } else if (working.DisplayName.empty() && working.ProgramName.empty() && working.InstalledLocation.empty()) {
    store.current.reset();
    return false;
  } else if (!working.DisplayName.empty() && !working.ProgramName.empty() && !working.ProgramVersion.empty() &&
             !working.InstalledLocation.empty() && working.Language != 0) {
    LogInfo(L"Product infos valid");
    SetDisplayName(working, working.DisplayName);
    CompleteInstallDate(working);
  } else {
    LogInfo(L"Product infos invalid or incomplete, try to read von different sources");
    if (!ReadFromSystemSources(working)) {
      store.current.reset();
      return false;
    }
  }

  if (!store.current) store.current = std::make_unique<ProgramInfos>();
  if (!AppendSafekeepEdition(working)) return false;
  working.ProductEditionName = CompleteEditionName(working.DisplayName);
  if (markedPreview || IsPreviewChannel(working)) AddPreviewSuffix(working);
  *store.current = working;
  return true;
}

ProgramInfos GetProgramInfos() {
  StoreLock lock;
  Store& store = TheStore();
  if (!lock.owned()) return store.current ? *store.current : ProgramInfos{};

  if (!store.current) {
    store.current = std::make_unique<ProgramInfos>();
    ProgramInfos& info = *store.current;
    if (!ReadFromOwnVersionResource(info)) {
      GetModulDirectory(info.InstalledLocation);
      ReadFromSystemSources(info);  // the "Unknown" names stay when all fail
    }
    const bool markedPreview = RemovePreviewSuffix(info);
    info.ProductEditionName = CompleteEditionName(info.DisplayName);
    if (markedPreview || IsPreviewChannel(info)) AddPreviewSuffix(info);
  }
  return *store.current;
}
