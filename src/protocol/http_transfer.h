#pragma once
// One HTTP request of a download, its body written to an open file as it
// arrives: the whole file, or its rest from an offset. It never waits longer
// than the stall limit for a byte, and passes no cache, so the file is written
// once, where it belongs. WinHTTP carries it: WinINet under Wine keeps
// waiting for a body's next byte whatever time-out it is given, and WinHTTP
// has no internet cache to bypass.

#include <windows.h>

#include <urlmon.h>

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/transfer_resume.h"

// How a request ended.
enum class TransferEnd {
  kComplete,   // every announced byte arrived (or, with no length announced, the body ended)
  kBrokenOff,  // the connection ended before the announced length: the rest may be asked for
  kStalled,    // no byte arrived within the stall limit
  kHttpError,  // an error status; nothing of its body was written
  kNoAnswer,   // the connection closed without any answer
  kCancelled,  // the progress callback asked to stop
  kFailed,     // anything else: no connection, TLS refused, the file could not be written
};

struct TransferResult {
  TransferEnd end = TransferEnd::kFailed;
  unsigned status = 0;        // the HTTP status, 0 without an answer
  uint64_t announced = 0;     // the whole file's length as announced; 0 when unknown
  uint64_t written = 0;       // bytes of this request written to the file
  std::wstring contentRange;  // of a 206 answer
  FileVersion version;        // what the answer said of the file's version
  HRESULT code = S_OK;        // for a failure: the error as an HRESULT
  bool startedAgain = false;  // a request for the rest got the whole file, written from the start
};

// The connection settings of one download and the requests it makes: every
// wait (the name, the connection, sending, each block of the answer) is
// limited to the stall limit.
class DownloadSession {
 public:
  explicit DownloadSession(DWORD stallLimitMs);
  ~DownloadSession();
  DownloadSession(const DownloadSession&) = delete;
  DownloadSession& operator=(const DownloadSession&) = delete;

  // False when the system gave no session; the error is the thread's last.
  bool valid() const { return session_ != nullptr; }

  // The request for url from offset on (0: the whole file; else a Range
  // request naming the version with If-Range, and the file holds offset
  // bytes); the body goes to the file at its current position, or from its
  // start when the server answers a request for the rest with the whole file.
  // progress, when set, hears every block, counted from the file's start.
  TransferResult Run(const std::wstring& url, uint64_t offset, const std::optional<std::wstring>& ifRange, HANDLE file,
                     IBindStatusCallback* progress);

 private:
  // WinHTTP's session handle, kept out of this header: winhttp.h and
  // wininet.h can't both be included, and the caller uses the latter.
  void* session_;
};
