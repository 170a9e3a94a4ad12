// What checking the signature adds to a quiet session:
//   check    the signature check alone, in this process, on the text openssl
//            signed for the tests (provider, key import and verification, as
//            each check does them): the first one and the median of many;
//   sessions VLRenovaWorker.exe and VLRenovaWorkerSigned.exe, each a quiet
//            session (-UpdateCheckSilent -QuickCheck) answered with the same
//            signed instruction by the reference update service on loopback,
//            run alternately; only the second checks the signature.
// Prints the medians, the check's share of the session (goal: under 5 %) and
// the signed build's session against the other's.
//   signature_bench [port] [rounds]   port: the service's TLS port; by
//                                     default read from ..\update-server\port
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "product/program_infos.h"
#include "product/settings.h"
#include "protocol/instruction_signature.h"
#include "system/registry.h"
#include "win/strings.h"

namespace {

constexpr int kDefaultRounds = 15;
constexpr int kChecks = 200;
constexpr wchar_t kProduct[] = L"Signature Bench";
constexpr wchar_t kScope[] = L"signaturebench";
// UpdateId 0: nothing is offered, so both sessions end with 0 once they have
// read the instruction; only the signed build checks its signature first, and
// that the answer is for this product and has not expired.
constexpr char kInstruction[] =
    "<Instruction><UpdateId>0</UpdateId><ProgramName>Signature Bench</ProgramName>"
    "<Expires>2099-01-01T00:00:00Z</Expires></Instruction>";

std::string ReadText(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::optional<InstructionKey> ReadKey(const std::wstring& path) {
  const std::string hex = ReadText(path);
  InstructionKey key{};
  if (hex.size() < 128) return std::nullopt;
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return key;
}

// The base64url form the service's text= fault takes.
std::wstring Base64Url(const std::string& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::wstring text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const auto byte = [&](size_t at) { return at < bytes.size() ? static_cast<uint8_t>(bytes[at]) : 0u; };
    const uint32_t chunk = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
    text += kAlphabet[(chunk >> 18) & 63];
    text += kAlphabet[(chunk >> 12) & 63];
    if (i + 1 < bytes.size()) text += kAlphabet[(chunk >> 6) & 63];
    if (i + 2 < bytes.size()) text += kAlphabet[chunk & 63];
  }
  return text;
}

double TimeSession(const std::wstring& exe) {
  return bench::TimeProcess(exe, std::wstring(L"-ProgramName \"") + kProduct +
                                     L"\" -ProgramVersion 1.0 -Language 1033 -InstalledLocation C:\\ "
                                     L"-UpdateCheckSilent -QuickCheck");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int port = argc > 1 ? _wtoi(argv[1]) : bench::PortFromFile();
  const int rounds = argc > 2 ? _wtoi(argv[2]) : kDefaultRounds;
  const std::wstring keys = bench::OwnFolder() + L"..\\test-keys\\";
  const std::optional<InstructionKey> first = ReadKey(keys + L"instruction-1.hex");
  const std::optional<InstructionKey> second = ReadKey(keys + L"instruction-2.hex");
  const std::string text = ReadText(keys + L"signed-sample.txt");
  std::string signature = ReadText(keys + L"signed-sample.txt.sig.b64");
  while (!signature.empty() && (signature.back() == '\n' || signature.back() == '\r')) signature.pop_back();
  if (port <= 0 || rounds <= 0 || !first || !second || text.empty()) {
    std::fwprintf(stderr,
                  L"usage: signature_bench [port] [rounds] (needs the service's port and the build's "
                  L"test-keys)\n");
    return 1;
  }

  const std::vector<InstructionKey> builtIn = {*first, *second};
  std::vector<double> checks;
  for (int i = 0; i < kChecks; ++i) {
    const double start = bench::Now();
    const SignatureVerdict verdict = VerifyInstructionSignature(text, {signature, std::nullopt}, builtIn);
    checks.push_back(bench::Now() - start);
    if (verdict != SignatureVerdict::kValid) {
      std::fwprintf(stderr, L"signature_bench: the test signature does not verify\n");
      return 2;
    }
  }

  const HWND desktopKeeper =
      ::CreateWindowExW(0, L"STATIC", L"signature_bench", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ProgramInfos product;
  product.ProgramName = kProduct;
  const std::wstring settings = GetProductSettingsKey(product);
  WriteRegString(
      HKEY_CURRENT_USER, settings, L"DebugUrl_v2",
      win::FormatW(L"https://localhost:%d/t/%s/f/text=%s/Renova/", port, kScope, Base64Url(kInstruction).c_str()));
  const std::wstring plain = bench::OwnFolder() + L"VLRenovaWorker.exe";
  const std::wstring signedBuild = bench::OwnFolder() + L"VLRenovaWorkerSigned.exe";
  std::vector<double> plainTimes, signedTimes;
  for (int i = 0; i < rounds; ++i) {
    const double a = i % 2 == 0 ? TimeSession(plain) : TimeSession(signedBuild);
    const double b = i % 2 == 0 ? TimeSession(signedBuild) : TimeSession(plain);
    if (a < 0 || b < 0) {
      std::fwprintf(stderr,
                    L"signature_bench: a session failed; is the service running on port %d and "
                    L"signing with the tests' first key?\n",
                    port);
      ::RegDeleteTreeW(HKEY_CURRENT_USER, settings.c_str());
      return 2;
    }
    plainTimes.push_back(i % 2 == 0 ? a : b);
    signedTimes.push_back(i % 2 == 0 ? b : a);
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, settings.c_str());
  if (desktopKeeper != nullptr) ::DestroyWindow(desktopKeeper);

  // A session checks once, so the first check of a process is the one it
  // pays for: it also loads what CNG needs for ECDSA.
  const double firstCheck = checks.front();
  const double check = bench::Median(checks);
  const double session = bench::Median(plainTimes);
  const double withCheck = bench::Median(signedTimes);
  std::wprintf(L"signature check: first in the process %.2f ms, median of %d %.2f ms\n", firstCheck * 1e3, kChecks,
               check * 1e3);
  std::wprintf(L"quiet session: %.0f ms, signed build %.0f ms (medians of %d rounds)\n", session * 1e3, withCheck * 1e3,
               rounds);
  std::wprintf(L"first signature check / quiet session: %.2f %%, goal < 5 %%: %ls\n", firstCheck / session * 100,
               firstCheck / session < 0.05 ? L"met" : L"MISSED");
  bench::PrintFigure(L"signature check / quiet session",
                     win::FormatW(L"%.2f ms of %.0f ms", firstCheck * 1e3, session * 1e3), firstCheck / session,
                     L"< 0.05", firstCheck / session < 0.05);
  std::wprintf(L"signed build's session / the other's: %.2f (process runs vary by a few per cent)\n",
               withCheck / session);
  return 0;
}
