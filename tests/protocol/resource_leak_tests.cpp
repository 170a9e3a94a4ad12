// Posts and parses repeated a thousand times give back the handles and memory
// they take: a session that leaks one handle per post, or a list that keeps
// its actions, would show here long before a machine runs out.

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>

#include "actions/instruction_document.h"
#include "log/clog.h"
#include "log/process_log.h"
#include "logfront/log_level.h"
#include "product/cmd_line_info.h"
#include "protocol/http_wrapper.h"
#include "protocol/instruction_info.h"
#include "protocol/split_url.h"
#include "protocol/url_encode.h"
#include "support/process_resources.h"
#include "support/update_server.h"
#include "win/internet_handle.h"

namespace {

using namespace testing_support;

constexpr int kRounds = 1000;
// WinINet keeps a few connections and its cache index open; the heap keeps
// freed pages for reuse. One leaked handle or 1 KiB per round is far above both.
constexpr GrowthMargins kMargins{/*handles=*/16, /*guiObjects=*/4, /*privateBytes=*/1024 * 1024, /*threads=*/2};

class ResourceLeakTest : public UpdateServerTest {};

// The same post on bare WinINet: the least the system keeps of a thousand.
bool BarePost(const UrlParts& parts, const std::string& body) {
  const win::UniqueInternetHandle session(
      ::InternetOpenW(L"VLRenova", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  const win::UniqueInternetHandle connection(::InternetConnectW(session.get(), parts.server.c_str(), parts.port,
                                                                nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
  const std::wstring object = L"/" + parts.object;
  const win::UniqueInternetHandle request(::HttpOpenRequestW(connection.get(), L"POST", object.c_str(), nullptr,
                                                             nullptr, nullptr, INTERNET_FLAG_SECURE, 1));
  static constexpr wchar_t kHeader[] = L"Content-Type: application/x-www-form-urlencoded";
  if (!request || !::HttpSendRequestW(request.get(), kHeader, static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                                      static_cast<DWORD>(body.size()))) {
    return false;
  }
  char block[4096];
  DWORD read = 0;
  size_t total = 0;
  while (::InternetReadFile(request.get(), block, sizeof block, &read) && read > 0) total += read;
  return total > 0;
}

TEST_F(ResourceLeakTest, AThousandPostsToTheServiceGiveBackTheirHandlesAndMemory) {
  const std::wstring url = ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url("leak check")) +
                           L"VLRNWebservice.asmx/GetClientUpdate";
  const std::optional<UrlParts> parts = SplitUrl(url);
  ASSERT_TRUE(parts);
  // Wine's WinINet keeps a few KiB of each of its first thousand or so
  // requests however it is used; bare posts measure that (and fill it), and
  // the client may add nothing to it. Half as many, counted twice, keep the
  // test short.
  constexpr int kBareRounds = kRounds / 2;
  const std::optional<Growth> bare =
      MeasureGrowth(20, kBareRounds, [&] { return BarePost(*parts, "clientStatusXML=%253cClientStatus%252f%253e"); });
  ASSERT_TRUE(bare) << "the bare posts failed";
  GrowthMargins margins = kMargins;
  margins.privateBytes += static_cast<SIZE_T>(std::max(0LL, bare->privateBytes()) * kRounds / kBareRounds);
  std::cout << "bare posts: " << bare->privateBytes() / 1024 << " KiB more private\n";

  ExpectNoGrowth("posts", 20, kRounds, margins, [&] {
    CHttpWrapper wrapper;
    wrapper.AddPostArgument(L"clientStatusXML", UrlEncode(L"<ClientStatus/>"));
    std::wstring answer;
    const unsigned result = wrapper.PostUrl(url, answer);
    EXPECT_EQ(result, kPostSucceeded) << answer;
    return result == kPostSucceeded && answer.find(L"leak check") != std::wstring::npos;
  });
}

// An instruction as large as a real one gets: many files and actions of every list.
std::string LargeInstruction() {
  std::string pre, files, post;
  for (int i = 0; i < 300; ++i) {
    const std::string n = std::to_string(i);
    pre += "<Action Name=\"StopProcess\" FileName=\"tool" + n + ".exe\"/>";
    files += "<File Url=\"https://localhost:1/files/part" + n + ".bin\" RelativeTargetFolder=\"parts\\" + n +
             "\" FileName=\"part" + n + ".bin\" Size=\"1024\"/>";
    post += "<Action Name=\"SetRegValue\" Key=\"HKEY_CURRENT_USER\\Software\\VLRenovaTests\\Leak\" Value=\"v" + n +
            "\" Type=\"SZ\" Data=\"" + std::string(200, 'd') + "\"/>";
  }
  return "<Instruction><UpdateId>77</UpdateId><NewProductVersion>2.0.0</NewProductVersion>"
         "<ChangeLogUrl>https://localhost:1/changes</ChangeLogUrl><Pre>" +
         pre + "</Pre><Download>" + files + "</Download><Post>" + post + "</Post></Instruction>";
}

TEST(InstructionParseLeak, AThousandParsesOfALargeInstructionGiveBackTheirMemory) {
  const std::string text = LargeInstruction();
  const CmdLineInfo options;
  // The parse writes several lines per action, and writing them is what such
  // a parse spends its time on (the log has its own benchmark); only what the
  // parse keeps counts here.
  struct QuietLog {
    const int threshold = GetLog().Threshold();
    QuietLog() { GetLog().SetThreshold(kLogLevelError); }
    ~QuietLog() { GetLog().SetThreshold(threshold); }
  } quiet;
  ExpectNoGrowth("parses", 20, kRounds, kMargins, [&] {
    ActionList pre, main, post;
    InstructionInfo info;
    const int32_t result = LoadInstructionXml(text.c_str(), pre, main, post, info, options);
    EXPECT_EQ(result, kInstructionAvailable);
    EXPECT_EQ(pre.size(), 300u);
    EXPECT_EQ(post.size(), 300u);
    return result == kInstructionAvailable && pre.size() == 300 && post.size() == 300;
  });
}

}  // namespace
