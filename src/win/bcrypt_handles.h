#pragma once
// Owners of CNG objects: an algorithm provider, a hash and a key.

#include <windows.h>
#include <bcrypt.h>

#include "win/unique_handle.h"

namespace win {

struct AlgorithmProviderTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct HashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::BCryptDestroyHash(h); }
};

struct KeyTraits {
  using Type = BCRYPT_KEY_HANDLE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::BCryptDestroyKey(h); }
};

using UniqueAlgorithmProvider = UniqueHandle<AlgorithmProviderTraits>;
using UniqueHash = UniqueHandle<HashTraits>;
using UniqueKey = UniqueHandle<KeyTraits>;

}  // namespace win
