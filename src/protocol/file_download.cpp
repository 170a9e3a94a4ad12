#include "protocol/file_download.h"

#include <wininet.h>

#include <cwchar>

#include "actions/error_text.h"
#include "actions/file_system.h"
#include "log/log.h"
#include "win/com_ptr.h"
#include "win/unique_handle.h"

namespace {

constexpr std::wstring_view kHttps = L"https://";
constexpr std::wstring_view kHttp = L"http://";
constexpr DWORD kFirstHttpError = 400;

std::wstring WithoutTls(std::wstring url) {
  for (size_t at = url.find(kHttps); at != std::wstring::npos; at = url.find(kHttps, at + kHttp.size())) {
    url.replace(at, kHttps.size(), kHttp);
  }
  return url;
}

// Stands between the system's download and the caller's callback. The system
// reports an HTTP error page or an answer cut short as a download like any
// other, and the file would then be run as the product's setup: this sees the
// status and the announced size so that such a download counts as failed.
class DownloadWatch : public IBindStatusCallback, public IHttpNegotiate {
 public:
  explicit DownloadWatch(IBindStatusCallback* progress) : progress_(progress) {}
  virtual ~DownloadWatch() = default;

  DWORD status() const { return status_; }
  ULONG announcedBytes() const { return announced_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IBindStatusCallback) {
      *object = static_cast<IBindStatusCallback*>(this);
    } else if (iid == IID_IHttpNegotiate) {
      *object = static_cast<IHttpNegotiate*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  // Lives on the caller's stack for the length of the download.
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override {
    return progress_ != nullptr ? progress_->OnStartBinding(reserved, binding) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override {
    return progress_ != nullptr ? progress_->GetPriority(priority) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override {
    return progress_ != nullptr ? progress_->OnLowResource(reserved) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override {
    if (statusCode == BINDSTATUS_DOWNLOADINGDATA || statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
      announced_ = progressMax;
    }
    return progress_ != nullptr ? progress_->OnProgress(progress, progressMax, statusCode, statusText) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override {
    return progress_ != nullptr ? progress_->OnStopBinding(result, error) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override {
    return progress_ != nullptr ? progress_->GetBindInfo(flags, info) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override {
    return progress_ != nullptr ? progress_->OnDataAvailable(flags, size, format, medium) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID iid, IUnknown* object) override {
    return progress_ != nullptr ? progress_->OnObjectAvailable(iid, object) : S_OK;
  }

  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override {
    if (additionalHeaders != nullptr) *additionalHeaders = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR, LPCWSTR, LPWSTR* additionalHeaders) override {
    status_ = status;
    if (additionalHeaders != nullptr) *additionalHeaders = nullptr;
    return S_OK;
  }

 private:
  IBindStatusCallback* progress_;
  DWORD status_ = 0;
  ULONG announced_ = 0;
};

// An address an HTTP server answers, whose status the watch then sees.
bool IsHttpUrl(const std::wstring& url) {
  return ::_wcsnicmp(url.c_str(), kHttps.data(), kHttps.size()) == 0 ||
         ::_wcsnicmp(url.c_str(), kHttp.data(), kHttp.size()) == 0;
}

std::optional<ULONGLONG> FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One attempt; an error status, fewer bytes than announced or no answer at
// all fail it, and what arrived of such an answer is not left as the file.
HRESULT DownloadOnce(const std::wstring& url, const std::wstring& target, IBindStatusCallback* progress,
                     bool logErrors) {
  DownloadWatch watch(progress);
  HRESULT result = ::URLDownloadToFileW(nullptr, url.c_str(), target.c_str(), 0, &watch);
  if (result != S_OK) {
    // A connection reset mid-answer can leave what arrived so far as the file.
    ::DeleteFileW(target.c_str());
    return result;
  }
  const std::optional<ULONGLONG> size = FileSize(target);
  const bool httpError = watch.status() >= kFirstHttpError;
  const bool cutShort = watch.announcedBytes() != 0 && (!size || *size < watch.announcedBytes());
  // The system takes a connection closed before any answer for an empty file.
  const bool noAnswer = watch.status() == 0 && IsHttpUrl(url);
  if (!httpError && !cutShort && !noAnswer) return S_OK;
  if (logErrors && noAnswer) {
    LogError(L"The server closed the connection for %s without an answer", url.c_str());
  } else if (logErrors && httpError) {
    LogError(L"The server answered %s with status %u", url.c_str(), watch.status());
  } else if (logErrors) {
    LogError(L"The server sent %llu of %lu bytes of %s", size.value_or(0), watch.announcedBytes(), url.c_str());
  }
  ::DeleteFileW(target.c_str());
  return INET_E_DOWNLOAD_FAILURE;
}

}  // namespace

bool DownloadFile(const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                  IBindStatusCallback* progress, bool logErrors) {
  const std::wstring target = folder + fileName;
  if (!CreateDirectoryPath(folder, true)) {
    if (logErrors) LogError(L"can not create directory %s because: \"%s\"", folder.c_str(), GetLastErrorText().c_str());
    return false;
  }

  // A thread that already chose the multithreaded model can download as it
  // is; only a thread without COM at all can't.
  const win::ScopedComInit com;
  if (FAILED(com.result()) && com.result() != RPC_E_CHANGED_MODE) return false;

  ::DeleteUrlCacheEntryW(url.c_str());
  LogInfo(L"Downloading from: '%s' - to: %s", url.c_str(), target.c_str());
  std::wstring tried = url;
  HRESULT result = DownloadOnce(tried, target, progress, logErrors);
  if (result != S_OK && tried.find(kHttps) != std::wstring::npos) {
    tried = WithoutTls(tried);
    if (logErrors) LogInfo(L"Try to connect without SSL: %s", tried.c_str());
    result = DownloadOnce(tried, target, progress, logErrors);
  }
  if (result != S_OK) {
    if (logErrors) LogError(L"Download from '%s' failed with Code: %d", tried.c_str(), static_cast<int>(result));
    return false;
  }
  return true;
}
