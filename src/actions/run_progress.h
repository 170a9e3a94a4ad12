#pragma once
// What an installation run shows while it runs: its step in the message line,
// a download's bar and label, the system menu's Close, and the address of a
// file that failed to download. The session hands one down with the run
// (through the run's DownloadCallback); actions run without one show nothing.
//
// Called on the run's thread; each call is carried out before it returns.

#include <cstdint>
#include <string>

class RunProgress {
 public:
  RunProgress() = default;
  virtual ~RunProgress() = default;
  RunProgress(const RunProgress&) = delete;
  RunProgress& operator=(const RunProgress&) = delete;

  virtual void SetMessageText(const std::wstring& text) = 0;
  virtual void SetProgressPosition(int32_t percent) = 0;
  virtual void ShowDownloadProgress(bool visible) = 0;
  virtual void SetDownloadProgressText(const std::wstring& text) = 0;
  // The Close command of the window's system menu; a setup run greys it.
  virtual void EnableCloseCommand(bool enabled) = 0;
  // The file the download-failed display offers to download by hand.
  virtual void SetFailedDownloadUrl(const std::wstring& url) = 0;
};
