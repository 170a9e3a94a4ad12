#include "ui/desktop_shell_open.h"

#include <windows.h>

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>

#include "win/com_ptr.h"
#include "win/scoped_bstr.h"
#include "win/scoped_variant.h"

namespace {

// The desktop window's shell view, asked for the shell's dispatch object.
win::ComPtr<IShellDispatch2> DesktopShellDispatch() {
  win::ComPtr<IShellWindows> windows;
  if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.put_void()))) {
    return {};
  }
  VARIANT desktop;
  ::VariantInit(&desktop);
  desktop.vt = VT_I4;
  desktop.lVal = CSIDL_DESKTOP;
  VARIANT none;
  ::VariantInit(&none);
  long window = 0;
  win::ComPtr<IDispatch> found;
  if (windows->FindWindowSW(&desktop, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, found.put()) != S_OK || !found) {
    return {};
  }
  win::ComPtr<IServiceProvider> services;
  win::ComPtr<IShellBrowser> browser;
  win::ComPtr<IShellView> view;
  win::ComPtr<IDispatch> background;
  win::ComPtr<IShellFolderViewDual> folderView;
  win::ComPtr<IDispatch> application;
  win::ComPtr<IShellDispatch2> shell;
  if (FAILED(found->QueryInterface(IID_IServiceProvider, services.put_void())) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
      FAILED(browser->QueryActiveShellView(view.put())) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) ||
      FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.put_void())) ||
      FAILED(folderView->get_Application(application.put())) ||
      FAILED(application->QueryInterface(IID_IShellDispatch2, shell.put_void()))) {
    return {};
  }
  return shell;
}

}  // namespace

bool OpenThroughDesktopShell(const std::wstring& address, int showCommand) {
  const win::ScopedComInit com;
  if (FAILED(com.result()) && com.result() != RPC_E_CHANGED_MODE) return false;
  const win::ComPtr<IShellDispatch2> shell = DesktopShellDispatch();
  if (!shell) return false;
  const win::ScopedBstr file(address.c_str());
  const win::ScopedBstr verb(L"open");
  if (file.get() == nullptr || verb.get() == nullptr) return false;
  VARIANT none;
  ::VariantInit(&none);
  VARIANT operation;
  ::VariantInit(&operation);
  operation.vt = VT_BSTR;
  operation.bstrVal = verb.get();  // owned by verb
  VARIANT show;
  ::VariantInit(&show);
  show.vt = VT_I4;
  show.lVal = showCommand;
  return SUCCEEDED(shell->ShellExecute(file.get(), none, none, operation, show));
}
