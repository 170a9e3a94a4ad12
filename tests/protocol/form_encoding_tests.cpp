// The form encoding and URL splitting under every post.

#include <gtest/gtest.h>

#include "protocol/http_wrapper.h"
#include "protocol/split_url.h"
#include "protocol/url_encode.h"

namespace {

TEST(UrlEncode, KeepsOnlyLettersAndDigitsAndEscapesEveryUnitInLowerCaseHex) {
  EXPECT_EQ(UrlEncode(L"a b"), L"a+b");
  EXPECT_EQ(UrlEncode(L"<x/>"), L"%3cx%2f%3e");
  EXPECT_EQ(UrlEncode(L"\t\n"), L"%09%0a");
  EXPECT_EQ(UrlEncode(L"-._~"), L"%2d%2e%5f%7e");
  EXPECT_EQ(UrlEncode(L"AZaz09"), L"AZaz09");
  // UTF-16 units themselves, no UTF-8 step.
  EXPECT_EQ(UrlEncode(L"\u00FC\u0152\u20AC"), L"%fc%152%20ac");
  EXPECT_EQ(UrlEncode(std::wstring(1, L'\0')), L"%00");
  EXPECT_EQ(UrlEncode(L""), L"");
}

TEST(UrlEncode, TwiceGivesTheFormOnTheWire) {
  EXPECT_EQ(UrlEncode(UrlEncode(L"<a/>\n")), L"%253ca%252f%253e%250a");
  EXPECT_EQ(UrlEncode(UrlEncode(L"a b")), L"a%2bb");
}

TEST(HttpWrapper, JoinsArgumentsWithAmpersandsAndEncodesOnlyValues) {
  CHttpWrapper wrapper;
  EXPECT_TRUE(wrapper.AddPostArgument(L"a", L"1"));
  EXPECT_TRUE(wrapper.AddPostArgument(L"b", L"2"));
  EXPECT_EQ(wrapper.body(), L"a=1&b=2");
  wrapper.AddPostArgument(L"name.x", L"<v w>");
  EXPECT_EQ(wrapper.body(), L"a=1&b=2&name.x=%3cv+w%3e");
}

TEST(SplitUrl, SchemeChoosesTlsAndDefaultPort) {
  const auto https = SplitUrl(L"https://update.velbor.example/Renova/VLRNWebservice.asmx/GetClientUpdate");
  ASSERT_TRUE(https);
  EXPECT_EQ(https->server, L"update.velbor.example");
  EXPECT_EQ(https->object, L"Renova/VLRNWebservice.asmx/GetClientUpdate");
  EXPECT_TRUE(https->secure);
  EXPECT_EQ(https->port, 443);

  const auto http = SplitUrl(L"http://host.example");
  ASSERT_TRUE(http);
  EXPECT_EQ(http->server, L"host.example");
  EXPECT_EQ(http->object, L"");
  EXPECT_FALSE(http->secure);
  EXPECT_EQ(http->port, 80);

  const auto upper = SplitUrl(L"HTTPS://Host.example/x");
  ASSERT_TRUE(upper);
  EXPECT_TRUE(upper->secure);
  EXPECT_EQ(upper->server, L"Host.example");

  // Only the start names the scheme: a path holding "https" keeps plain HTTP.
  const auto path = SplitUrl(L"http://mirror.example/https/Renova/");
  ASSERT_TRUE(path);
  EXPECT_FALSE(path->secure);
  EXPECT_EQ(path->server, L"mirror.example");
  EXPECT_EQ(path->object, L"https/Renova/");
}

TEST(SplitUrl, ExplicitPortIsUsedAndKeptOutOfTheServerName) {
  const auto parts = SplitUrl(L"https://localhost:8443/Renova/");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->server, L"localhost");
  EXPECT_EQ(parts->port, 8443);
  EXPECT_TRUE(parts->secure);
  EXPECT_EQ(parts->object, L"Renova/");

  const auto limits = SplitUrl(L"http://h:65535");
  ASSERT_TRUE(limits);
  EXPECT_EQ(limits->port, 65535);
  EXPECT_EQ(limits->server, L"h");

  const auto v6 = SplitUrl(L"http://[::1]:8080/a");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->server, L"[::1]");
  EXPECT_EQ(v6->port, 8080);
  const auto v6NoPort = SplitUrl(L"https://[::1]/a");
  ASSERT_TRUE(v6NoPort);
  EXPECT_EQ(v6NoPort->server, L"[::1]");
  EXPECT_EQ(v6NoPort->port, 443);
}

TEST(SplitUrl, RefusesPortsThatAreNoPortNumbers) {
  for (const wchar_t* url :
       {L"https://localhost:0/Renova/", L"https://localhost:65536/", L"http://localhost:8o80/", L"http://localhost:/",
        L"http://localhost:-1/", L"http://localhost:99999999999999999999/"}) {
    EXPECT_FALSE(SplitUrl(url)) << url;
  }
}

TEST(SplitUrl, WithoutSchemeTakesHostAndPathOverPlainHttp) {
  const auto parts = SplitUrl(L"localhost:8080/Renova/");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->server, L"localhost");
  EXPECT_EQ(parts->port, 8080);
  EXPECT_FALSE(parts->secure);
  EXPECT_EQ(parts->object, L"Renova/");

  const auto bare = SplitUrl(L"justahost");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->server, L"justahost");
  EXPECT_EQ(bare->object, L"");
  EXPECT_EQ(bare->port, 80);
}

}  // namespace
