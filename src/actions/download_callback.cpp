#include "actions/download_callback.h"

#include "actions/format_size.h"
#include "product/program_infos_store.h"
#include "texts/text_table.h"
#include "win/strings.h"

int32_t DownloadCallback::Percent(ULONG progress, ULONG progressMax) {
  if (progress == 0 || progressMax == 0) return 0;
  return static_cast<int32_t>(static_cast<double>(progress) * 100.0 / static_cast<double>(progressMax));
}

HRESULT STDMETHODCALLTYPE DownloadCallback::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IBindStatusCallback) {
    *object = static_cast<IBindStatusCallback*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE DownloadCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) {
  if (statusCode != BINDSTATUS_DOWNLOADINGDATA || progress_ == nullptr) return S_OK;
  progress_->SetProgressPosition(Percent(progress, progressMax));
  const std::wstring label = win::FormatW(GetText(kTextTwoValues, GetProgramInfos().Language),
                                          FormatSize(progress).c_str(), FormatSize(progressMax).c_str());
  progress_->SetDownloadProgressText(label);
  return S_OK;
}
