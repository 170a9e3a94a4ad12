// The digest check of a download: SHA-256 of one file through CNG, as the
// download action computes it, timed inside the process (Wine's start-up is
// no part of a check). bench/digest-bench runs it against sha256sum.
//   digest_bench FILE [rounds]   prints each round's time, the median and the digest
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_support.h"
#include "system/file_digest.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: digest_bench FILE [rounds]\n");
    return 1;
  }
  const int rounds = argc > 2 ? _wtoi(argv[2]) : 5;
  std::vector<double> times;
  std::wstring hex;
  for (int i = 0; i < rounds; ++i) {
    const double start = bench::Now();
    const std::optional<Sha256Digest> digest = Sha256OfFile(argv[1]);
    times.push_back(bench::Now() - start);
    if (!digest) {
      std::fwprintf(stderr, L"digest_bench: can't read %ls\n", argv[1]);
      return 2;
    }
    hex = ToHex(*digest);
    std::wprintf(L"round %d: %.1f ms\n", i + 1, times.back() * 1e3);
  }
  std::wprintf(L"median: %.1f ms\ndigest: %ls\n", bench::Median(times) * 1e3, hex.c_str());
  return 0;
}
