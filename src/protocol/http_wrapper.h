#pragma once
// One HTML-form POST over HTTP or HTTPS on WinINet: a session per wrapper,
// the form body it collects, and the answer's body as text.

#include <cstddef>
#include <string>

#include "win/internet_handle.h"

// PostUrl's own results; any other non-zero result is an HTTP status (100 to
// 999) or a WinINet error number (12000 and up).
inline constexpr unsigned kPostSucceeded = 0;
inline constexpr unsigned kPostNotSent = 1;           // no connection or request, or nothing sent
inline constexpr unsigned kPostNoStatus = 2;          // the status code could not be read
inline constexpr unsigned kPostAnswerTooLarge = 3;    // the body passed kMaxAnswerBytes
inline constexpr unsigned kPostAnswerIncomplete = 4;  // the body ended before its announced length

// An instruction is a few KiB; a server that sends more than this is broken
// or hostile, and reading it whole could exhaust memory.
inline constexpr size_t kMaxAnswerBytes = 16 * 1024 * 1024;

class CHttpWrapper {
 public:
  // Opens the session: user agent "VLRenova", the system's proxy settings.
  CHttpWrapper();
  CHttpWrapper(const CHttpWrapper&) = delete;
  CHttpWrapper& operator=(const CHttpWrapper&) = delete;

  // Appends name=UrlEncode(value), "&"-separated. Always true.
  bool AddPostArgument(const std::wstring& name, const std::wstring& value);

  // Posts the form body (sent only when not empty) to an "https://" or
  // "http://" URL. 0: status 200 and the whole body in answer, each byte as
  // the character of its signed value (0xE4 gives U+FFE4). An HTTP status
  // other than 200 is returned with answer untouched; a WinINet error is
  // returned with its message text in answer.
  unsigned PostUrl(const std::wstring& url, std::wstring& answer);

  const std::wstring& body() const { return body_; }

 private:
  win::UniqueInternetHandle session_;
  std::wstring body_;
};
