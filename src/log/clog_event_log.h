#pragma once
// The log's Windows event-log output: the source's registration and one report
// per message. It keeps no lock and never logs: CLog calls it under its own
// lock and logs what went wrong once the lock is released.

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "win/unique_handle.h"

using RegisterEventSourceFunction = HANDLE(WINAPI*)(LPCWSTR server, LPCWSTR source);

class LogEventLog {
 public:
  // Whether messages go to the event log; read without the lock.
  bool On() const { return on_.load(std::memory_order_relaxed); }
  void SetOn(bool on) { on_.store(on, std::memory_order_relaxed); }

  // The name the source is registered under.
  void SetSourceName(std::wstring source) { source_ = std::move(source); }
  // The message file and the source name, and a copy of the SID when sid
  // holds a whole one.
  void SetSource(std::wstring messageFile, std::wstring source, const void* sid, DWORD sidLength);

  // When on: writes the source's values below the machine's event-log key
  // (with a message file), then registers the source through registerSource
  // unless it is registered already. The error of a refused registration,
  // after which the output is off; none otherwise.
  std::optional<DWORD> Register(RegisterEventSourceFunction registerSource);

  // One report of level with up to three texts, when the source is registered.
  void Report(int level, DWORD eventId, int count, const wchar_t* const* texts) const;

  // Deregisters the source and forgets the SID.
  void Close();

 private:
  std::atomic<bool> on_{false};
  std::wstring source_;
  std::wstring messageFile_;
  win::UniqueEventSource eventSource_;
  std::vector<BYTE> sid_;
};
