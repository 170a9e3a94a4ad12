#pragma once
// Sets an environment variable of this process, and so of the programs it
// starts, for the object's lifetime; the value it had comes back afterwards.

#include <windows.h>

#include <optional>
#include <string>

namespace testing_support {

class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name), before_(Read(name)) {
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_, before_ ? before_->c_str() : nullptr); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  static std::optional<std::wstring> Read(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), size));
    return value;
  }

  const wchar_t* name_;
  std::optional<std::wstring> before_;
};

}  // namespace testing_support
