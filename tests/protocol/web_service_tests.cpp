// Calls of the update web service through the reference service: the URL,
// the double encoding, the answer text, and the single retry over plain HTTP.

#include "protocol/web_service.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "product/program_infos_store.h"
#include "product/settings.h"
#include "protocol/answer_text.h"
#include "protocol/http_wrapper.h"
#include "support/log_capture.h"
#include "support/scratch.h"
#include "support/update_server.h"
#include "system/registry.h"

namespace {

using namespace testing_support;

// A product of this test process's own, whose "DebugUrl_v2" points where the
// test wants; its settings key is removed afterwards.
class WebServiceTest : public testing_support::UpdateServerTest {
 protected:
  void SetUp() override {
    UpdateServerTest::SetUp();
    if (HasFatalFailure()) return;

    ProgramInfos working;
    working.ProgramName = L"Web Service Test " + scope_;
    SetDisplayName(working, working.ProgramName);
    working.ProgramVersion = L"1.0.0";
    working.InstalledLocation = folder_.path();
    working.Language = 1033;
    ASSERT_TRUE(CompleteProgramInfos(working));
    settingsKey_ = GetProductSettingsKey(GetProgramInfos());
  }

  void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, settingsKey_.c_str()); }

  void UseBase(const std::wstring& base) {
    ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, settingsKey_, L"DebugUrl_v2", base));
  }

  unsigned PostDocument(const char* xml, std::wstring& answer) {
    tinyxml2::XMLDocument document;
    EXPECT_EQ(document.Parse(xml), tinyxml2::XML_SUCCESS);
    return PostToWebService(kClientStatusArgument, document, kGetClientUpdateMethod, answer);
  }

  ScratchFolder folder_;
  std::wstring settingsKey_;
};

TEST_F(WebServiceTest, UrlIsTheBaseTheServiceFileAndTheMethod) {
  EXPECT_EQ(GetWebServiceUrl(kGetClientUpdateMethod),
            L"https://update.velbor.example/Renova/VLRNWebservice.asmx/GetClientUpdate");
  UseBase(L"https://localhost:8443/Renova/");
  EXPECT_EQ(GetWebServiceUrl(kReportUpgradeOfferStatusMethod),
            L"https://localhost:8443/Renova/VLRNWebservice.asmx/ReportUpgradeOfferStatus");
}

TEST_F(WebServiceTest, DocumentTravelsEncodedTwiceOverTrustedTls) {
  UseBase(ServiceBaseUrl(L"https", ports_.main, scope_));
  LogCapture log;
  std::wstring answer;
  ASSERT_EQ(PostDocument("<a/>", answer), 0u) << answer;

  ASSERT_EQ(RecordCount(ports_.main, scope_), 1);
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "raw_body"), "clientStatusXML=%253ca%252f%253e%250a");
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "scheme"), "https");
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "user_agent"), "VLRenova");
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "content_type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(log.CountAt(L"INF", L"<a/>"), 1u);
  EXPECT_EQ(log.Count(L"url to Webserver: " + ServiceBaseUrl(L"https", ports_.main, scope_) +
                      L"VLRNWebservice.asmx/GetClientUpdate"),
            1u);
  EXPECT_EQ(log.Count(L"/GetClientUpdate result = 0"), 1u);
  EXPECT_EQ(log.Count(L"Try to connect without SSL"), 0u);
  EXPECT_EQ(log.CountAt(L"ERR", L""), 0u);
}

TEST_F(WebServiceTest, AnswerTextIsTheInstructionTheServiceWrapped) {
  const std::string instruction =
      "<Instruction>\n  <UpdateId>7</UpdateId>\n  <ChangeLogUrl>a&amp;b</ChangeLogUrl>\n"
      "</Instruction>";
  UseBase(ServiceBaseUrl(L"https", ports_.main, scope_, L"text=" + Base64Url(instruction)));
  std::wstring answer;
  ASSERT_EQ(PostDocument("<ClientStatus/>", answer), 0u) << answer;
  std::string text;
  EXPECT_EQ(ExtractAnswerText(answer, text), kAnswerTextFound);
  EXPECT_EQ(text, instruction);
}

TEST_F(WebServiceTest, NonXmlAndEmptyAnswersSucceedAsPostsButCarryNoText) {
  std::string text = "stale";
  std::wstring answer;
  UseBase(ServiceBaseUrl(L"https", ports_.main, scope_, L"notxml"));
  ASSERT_EQ(PostDocument("<a/>", answer), 0u);
  EXPECT_EQ(ExtractAnswerText(answer, text), kAnswerNotXml);
  EXPECT_EQ(text, "");

  text = "stale";
  UseBase(ServiceBaseUrl(L"https", ports_.main, scope_, L"emptyroot"));
  ASSERT_EQ(PostDocument("<a/>", answer), 0u);
  EXPECT_EQ(ExtractAnswerText(answer, text), kAnswerTextFound);
  EXPECT_EQ(text, "");

  UseBase(ServiceBaseUrl(L"https", ports_.main, scope_, L"nul"));
  ASSERT_EQ(PostDocument("<a/>", answer), 0u);
  EXPECT_EQ(ExtractAnswerText(answer, text), kAnswerNotXml);

  UseBase(ServiceBaseUrl(L"https", ports_.main, scope_, L"deep=100000"));
  ASSERT_EQ(PostDocument("<a/>", answer), 0u);
  EXPECT_EQ(ExtractAnswerText(answer, text), kAnswerNotXml);
}

TEST_F(WebServiceTest, CertificateFailuresAreRetriedOnceOverHttpOnTheSamePortAndPath) {
  struct Case {
    uint16_t port;
    unsigned firstError;
  };
  for (const Case c : {Case{ports_.selfSigned, ERROR_INTERNET_INVALID_CA},
                       Case{ports_.untrusted, ERROR_INTERNET_SEC_CERT_REV_FAILED}}) {
    const std::wstring scope = NewScope();
    const std::wstring base = ServiceBaseUrl(L"https", c.port, scope);
    UseBase(base);
    LogCapture log;
    std::wstring answer;
    EXPECT_EQ(PostDocument("<a/>", answer), 0u) << answer;

    ASSERT_EQ(RecordCount(ports_.main, scope), 1) << c.port;
    EXPECT_EQ(RecordField(ports_.main, scope, 0, "scheme"), "http");
    EXPECT_EQ(RecordField(ports_.main, scope, 0, "raw_body"), "clientStatusXML=%253ca%252f%253e%250a");
    EXPECT_EQ(log.CountAt(L"WAR", L"Try to connect without SSL: " + ServiceBaseUrl(L"http", c.port, scope) +
                                      L"VLRNWebservice.asmx/GetClientUpdate"),
              1u);
    EXPECT_EQ(log.CountAt(L"ERR", L"/GetClientUpdate result = " + std::to_wstring(c.firstError)), 1u);
    EXPECT_EQ(log.CountAt(L"INF", L"/GetClientUpdate result = 0"), 1u);
  }
}

TEST_F(WebServiceTest, RefusedHttpsIsRetriedOnceAndPlainHttpNever) {
  UseBase(L"https://localhost:1/Renova/");
  LogCapture log;
  std::wstring answer;
  EXPECT_EQ(PostDocument("<a/>", answer), static_cast<unsigned>(ERROR_INTERNET_CANNOT_CONNECT));
  EXPECT_EQ(log.Count(L"Try to connect without SSL: http://localhost:1/Renova/VLRNWebservice.asmx/GetClientUpdate"),
            1u);
  EXPECT_EQ(log.Count(L"/GetClientUpdate result = 12029"), 2u);

  UseBase(L"http://localhost:1/Renova/");
  LogCapture plain;
  EXPECT_EQ(PostDocument("<a/>", answer), static_cast<unsigned>(ERROR_INTERNET_CANNOT_CONNECT));
  EXPECT_EQ(plain.Count(L"Try to connect without SSL"), 0u);
  EXPECT_EQ(plain.Count(L"/GetClientUpdate result = 12029"), 1u);
}

TEST_F(WebServiceTest, HttpStatusFailuresAreNotRetried) {
  for (const wchar_t* status : {L"500", L"404"}) {
    const std::wstring scope = NewScope();
    UseBase(ServiceBaseUrl(L"https", ports_.main, scope, std::wstring(L"status=") + status));
    LogCapture log;
    std::wstring answer = L"untouched";
    EXPECT_EQ(PostDocument("<a/>", answer), static_cast<unsigned>(std::stoi(status)));
    EXPECT_EQ(answer, L"untouched");
    EXPECT_EQ(RecordCount(ports_.main, scope), 1);
    EXPECT_EQ(log.Count(L"Try to connect without SSL"), 0u);
  }
}

TEST_F(WebServiceTest, ReportsPostTheirArgumentAndDropTheAnswer) {
  UseBase(ServiceBaseUrl(L"https", ports_.main, scope_));
  tinyxml2::XMLDocument document;
  document.Parse("<UpdateStatus><Status>0</Status></UpdateStatus>");
  LogCapture log;
  PostReportToWebService(kReportUpdateStatusMethod, kUpdateStatusArgument, document);
  ASSERT_EQ(RecordCount(ports_.main, scope_), 1);
  EXPECT_EQ(RecordField(ports_.main, scope_, 0, "method"), "ReportUpdateStatus");
  const auto body = RecordField(ports_.main, scope_, 0, "raw_body");
  ASSERT_TRUE(body);
  EXPECT_EQ(body->rfind("UpdateStatusXML=%253cUpdateStatus%253e%250a%2b%2b%2b%2b%253cStatus%253e0", 0), 0u) << *body;
  EXPECT_EQ(log.Count(L"/ReportUpdateStatus result = 0"), 1u);
}

}  // namespace
