// One post against the reference update service on loopback: what travels,
// what comes back, and how broken answers end.

#include "protocol/http_wrapper.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/url_encode.h"
#include "support/log_capture.h"
#include "support/update_server.h"

namespace {

using namespace testing_support;

constexpr wchar_t kMethod[] = L"VLRNWebservice.asmx/GetClientUpdate";

class PostUrlTest : public testing_support::UpdateServerTest {
 protected:
  void SetUp() override {
    UpdateServerTest::SetUp();
    if (HasFatalFailure()) return;
  }

  std::wstring Url(const std::wstring& faults = L"", const wchar_t* scheme = L"https") const {
    return ServiceBaseUrl(scheme, ports_.main, scope_, faults) + kMethod;
  }

  // Posts one small argument; the answer starts as "untouched".
  unsigned Post(const std::wstring& url, std::wstring& answer) {
    CHttpWrapper wrapper;
    wrapper.AddPostArgument(L"clientStatusXML", UrlEncode(L"<a/>\n"));
    answer = L"untouched";
    return wrapper.PostUrl(url, answer);
  }
};

TEST_F(PostUrlTest, SendsTheFormWithUserAgentAndContentTypeOverTrustedTls) {
  std::wstring answer;
  ASSERT_EQ(Post(Url(), answer), kPostSucceeded) << answer;
  EXPECT_NE(answer.find(L"<string"), std::wstring::npos) << answer;

  ASSERT_EQ(RecordCount(ports_.main, scope_), 1);
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "scheme"), "https");
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "method"), "GetClientUpdate");
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "user_agent"), "VLRenova");
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "content_type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "raw_body"), "clientStatusXML=%253ca%252f%253e%250a");
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "xml"), "<a/>\n");
}

TEST_F(PostUrlTest, UrlsWithoutSchemeGoOverPlainHttpToTheirPort) {
  std::wstring url = Url(L"", L"http");
  url.erase(0, 7);
  std::wstring answer;
  ASSERT_EQ(Post(url, answer), kPostSucceeded) << answer;
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "scheme"), "http");
}

TEST_F(PostUrlTest, BytesAboveAsciiArriveAsSignedCharacters) {
  const std::string body = "<a>\xE4\x80\xFF\x7F</a>";
  std::wstring answer;
  ASSERT_EQ(Post(Url(L"raw=" + Base64Url(body)), answer), kPostSucceeded);
  EXPECT_EQ(answer, L"<a>\uFFE4\uFF80\uFFFF\x7F</a>");
}

TEST_F(PostUrlTest, StatusOtherThan200IsTheResultAndLeavesTheAnswerAlone) {
  for (const unsigned status : {500u, 404u, 302u, 201u}) {
    std::wstring answer;
    EXPECT_EQ(Post(Url(L"status=" + std::to_wstring(status)), answer), status);
    EXPECT_EQ(answer, L"untouched");
  }
}

TEST_F(PostUrlTest, SeveralMegabytesAreReadWholeAndTheCapHoldsAtItsByte) {
  std::wstring answer;
  ASSERT_EQ(Post(Url(L"huge=" + std::to_wstring(8 * 1024 * 1024)), answer), kPostSucceeded);
  EXPECT_EQ(answer.size(), 8u * 1024 * 1024);
  EXPECT_EQ(answer.substr(answer.size() - 9), L"</string>");

  ASSERT_EQ(Post(Url(L"huge=" + std::to_wstring(kMaxAnswerBytes)), answer), kPostSucceeded);
  EXPECT_EQ(answer.size(), kMaxAnswerBytes);

  LogCapture log;
  EXPECT_EQ(Post(Url(L"huge=" + std::to_wstring(kMaxAnswerBytes + 1)), answer), kPostAnswerTooLarge);
  EXPECT_TRUE(answer.empty());
  EXPECT_EQ(log.CountAt(L"ERR", L""), 1u);
  EXPECT_EQ(log.Count(L"the answer is longer than 16777216 bytes"), 1u);
}

TEST_F(PostUrlTest, AnswersCutOffMidConnectionFailWithAnErrorLine) {
  for (const wchar_t* fault : {L"truncate", L"drop"}) {
    LogCapture log;
    std::wstring answer;
    const unsigned result = Post(Url(fault), answer);
    EXPECT_NE(result, kPostSucceeded) << fault;
    EXPECT_NE(result, 200u) << fault;
    EXPECT_GE(log.CountAt(L"ERR", L""), 1u) << fault;
    EXPECT_EQ(answer.find(L"<string"), std::wstring::npos) << fault;
  }
}

TEST_F(PostUrlTest, ConnectionAndCertificateFailuresGiveTheWinInetErrorAndItsText) {
  struct Case {
    std::wstring url;
    unsigned error;
  };
  const Case cases[] = {
      {L"https://localhost:1/Renova/" + std::wstring(kMethod), ERROR_INTERNET_CANNOT_CONNECT},
      {L"http://localhost:1/Renova/" + std::wstring(kMethod), ERROR_INTERNET_CANNOT_CONNECT},
      {ServiceBaseUrl(L"https", ports_.selfSigned, scope_) + kMethod, ERROR_INTERNET_INVALID_CA},
      {ServiceBaseUrl(L"https", ports_.untrusted, scope_) + kMethod, ERROR_INTERNET_SEC_CERT_REV_FAILED},
  };
  for (const Case& c : cases) {
    LogCapture log;
    std::wstring answer;
    EXPECT_EQ(Post(c.url, answer), c.error) << c.url;
    EXPECT_FALSE(answer.empty());
    EXPECT_NE(answer, L"untouched");
    EXPECT_EQ(log.Count(L"send the request failed because: " + answer), 1u) << c.url;
  }
  EXPECT_EQ(RecordCount(ports_.main, scope_), 0);
}

TEST_F(PostUrlTest, UnusablePortsAreRefusedBeforeAnyConnection) {
  for (const wchar_t* port : {L"0", L"65536", L"80a", L""}) {
    LogCapture log;
    std::wstring answer;
    EXPECT_EQ(Post(L"https://localhost:" + std::wstring(port) + L"/Renova/" + kMethod, answer), kPostNotSent);
    EXPECT_EQ(answer, L"untouched");
    EXPECT_EQ(log.Count(L"Can\u00B4t get an httpConnection"), 1u);
  }
}

TEST_F(PostUrlTest, NothingIsSentWithoutArguments) {
  LogCapture log;
  CHttpWrapper wrapper;
  std::wstring answer = L"untouched";
  EXPECT_EQ(wrapper.PostUrl(Url(), answer), kPostNoStatus);
  EXPECT_EQ(log.Count(L"Can\u00B4t read status code."), 1u);
  EXPECT_EQ(RecordCount(ports_.main, scope_), 0);
}

}  // namespace
