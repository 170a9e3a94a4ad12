#pragma once
// The download progress callback that an installation run hands to its file
// downloads: the bytes so far become the progress bar and the "%s / %s" label
// of the run's RunProgress, which it carries for the run's actions. It lives
// on the run's thread's stack for the length of the run, so its reference
// count does nothing.

#include <urlmon.h>

#include <cstdint>

#include "actions/run_progress.h"

class DownloadCallback : public IBindStatusCallback {
 public:
  // progress: what the run shows; null shows nothing.
  explicit DownloadCallback(RunProgress* progress = nullptr) : progress_(progress) {}
  virtual ~DownloadCallback() = default;
  DownloadCallback(const DownloadCallback&) = delete;
  DownloadCallback& operator=(const DownloadCallback&) = delete;

  // The percentage of a download: 0 when either count is 0.
  static int32_t Percent(ULONG progress, ULONG progressMax);

  RunProgress* Progress() const { return progress_; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // IBindStatusCallback: only OnProgress does something.
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

 private:
  RunProgress* progress_;
};
