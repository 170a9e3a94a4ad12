#include "seed_documents.h"

#include "support/full_instruction.h"

namespace fuzz {

namespace {

// tools/update-server/test-catalog/test-product.json as server.py builds it.
constexpr char kTestProduct[] = R"(<Instruction>
    <NewProductVersion>3.1.0</NewProductVersion>
    <MaxUpdateableProductVersionExistingOnServer>3.1.0</MaxUpdateableProductVersionExistingOnServer>
    <ChangeLogUrl>https://localhost:8443/t/abc/files/test/changes.txt</ChangeLogUrl>
    <SuppressReboot>TRUE</SuppressReboot>
    <IsReInstallModeAMUS>false</IsReInstallModeAMUS>
    <UpdateId>7</UpdateId>
    <Pre>
        <Action Name="StopProcess" FileName="RenovaTestProduct.exe" />
        <Action Name="StopService" FileName="RenovaTestService" />
        <Action Name="DelRegValue" Key="Software\Velbor\Renova Test Product" Value="Obsolete" />
        <Action Name="SetRegValue" Key="Software\Velbor\Renova Test Product" Value="Updating" Type="DWORD" Data="1" />
    </Pre>
    <Download>
        <File Url="https://localhost:8443/t/abc/files/test/payload.txt" RelativeTargetFolder="" FileName="payload.txt" />
        <File Url="https://localhost:8443/t/abc/files/test/data/extra.txt" RelativeTargetFolder="data" FileName="extra.txt" />
    </Download>
    <Post>
        <Action Name="StartService" FileName="RenovaTestService" />
        <Action Name="StartProcess" FileName="RenovaTestProduct.exe" />
        <Action Name="SetRegValue" Key="Software\Velbor\Renova Test Product" Value="Updating" Type="DWORD" Data="0" PostInstallationActionCompatible="1" />
    </Post>
</Instruction>
)";

// tools/update-server/sample-catalog/sample-product.json, with digests as a signing service adds them.
constexpr char kSampleProduct[] = R"(<Instruction>
    <NewProductVersion>2.0.0</NewProductVersion>
    <MaxUpdateableProductVersionExistingOnServer>2.0.0</MaxUpdateableProductVersionExistingOnServer>
    <ChangeLogUrl>https://localhost:8443/files/sample/ReadMe-2.0.0.txt</ChangeLogUrl>
    <SuppressReboot>True</SuppressReboot>
    <IsReInstallModeAMUS>False</IsReInstallModeAMUS>
    <UpdateId>42</UpdateId>
    <Expires>2030-01-01T00:00:00Z</Expires>
    <AdViewerUrl>https://localhost:8443/files/sample/REVoRuzure.exe</AdViewerUrl>
    <AdViewerSha256>9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08</AdViewerSha256>
    <AdCampaignId>camp-9</AdCampaignId>
    <Pre>
        <Action Name="StopProcess" FileName="SampleProduct.exe" />
    </Pre>
    <Download>
        <File Url="https://localhost:8443/files/sample/ReadMe-2.0.0.txt" RelativeTargetFolder="" FileName="ReadMe-2.0.0.txt" Sha256="e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855" Size="0" />
    </Download>
    <Post>
        <Action Name="StartProcess" FileName="SampleProduct.exe" />
    </Post>
</Instruction>
)";

// test-major-upgrade.json and test-server-error.json.
constexpr char kMajorUpgrade[] = R"(<Instruction>
    <MajorUpgradeProductUrl>https://localhost:8443/t/abc/files/test/changes.txt</MajorUpgradeProductUrl>
    <MajorUpgradeProductLinkText>KARVO_P_11</MajorUpgradeProductLinkText>
    <MajorUpgradeProductVersion>4</MajorUpgradeProductVersion>
    <UpdateId>0</UpdateId>
</Instruction>
)";
constexpr char kServerError[] = R"(<Instruction>
    <ErrorMessage>The update server of the tests reports an error.</ErrorMessage>
    <UpdateId>0</UpdateId>
</Instruction>
)";

constexpr char kNoUpdate[] = "No update available!";

// As signing.py's answer_document escapes: the three markup characters, and
// every other byte above ASCII as a character reference.
std::string EscapeForAnswer(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (byte > 0x7F) {
      out += "&#" + std::to_string(byte) + ";";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string WrapperAnswer(const std::string& text, bool withSignature) {
  std::string root = "<string xmlns=\"http://update.velbor.example/Renova/\"";
  if (withSignature) {
    // The attributes as the signing service writes them; nothing here checks the value.
    root +=
        " Signature=\"MEUCIQDtY2m7Pj0k1m8b9V1yqkXl8rZsHcYvH3p4n0x3xGm2bQIgW1bq9m5b0+0b6m2y0u7iG4kV0p1h5l8Hc3o2n1bXk9E="
        "\""
        " SignatureKey=\"3f2a9c0d1e4b5a67\"";
  }
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + root + ">" + EscapeForAnswer(text) + "</string>";
}

std::vector<std::string> InstructionSeeds() {
  std::vector<std::string> seeds;
  for (const char* document :
       {kTestProduct, kSampleProduct, kMajorUpgrade, kServerError, testing_support::kFullInstruction}) {
    seeds.emplace_back(document);
    seeds.push_back(WrapperAnswer(document, false));
    seeds.push_back(WrapperAnswer(document, true));
  }
  seeds.push_back(WrapperAnswer(kNoUpdate, false));
  seeds.push_back(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<string xmlns=\"http://update.velbor.example/Renova/\" />");
  return seeds;
}

std::vector<std::string> InstructionWords() {
  return {"<UpdateId>1</UpdateId>",
          "<Pre>",
          "</Pre>",
          "<Download>",
          "</Download>",
          "<Post>",
          "</Post>",
          "<Action Name=\"SetRegValue\" Key=\"k\" Value=\"v\" Type=\"SZ\" Data=\"d\"/>",
          "<Action Name=\"StartProcess\" FileName=\"a.exe\"/>",
          "<File Url=\"u\" FileName=\"f\"/>",
          " Name=\"StopService\"",
          " PostInstallationActionCompatible=\"1\"",
          "&lt;",
          "&amp;",
          "&#0;",
          "&#x10FFFF;",
          "&#xD800;",
          "&#99999999999;",
          "<![CDATA[",
          "]]>",
          "<!--",
          "-->",
          "<?xml version=\"1.0\"?>",
          "<!DOCTYPE a [<!ENTITY e \"x\">]>",
          "&e;",
          "KARVO_P_11",
          "xmlns=\"urn:a\"",
          "Signature=\"\""};
}

std::vector<std::string> CommandLineSeeds() {
  return {
      "VLRenovaWorker.exe -ProgramName \"Renova Test Product\" -ProgramVersion 3.0.0 -Language 1031 "
      "-InstalledLocation \"C:\\Program Files\\Velbor\\Test\\\\\" -UpdateCheckSilent -QuickCheck",
      "\"C:\\Program Files\\Velbor\\VLRenovaWorker.exe\" /ProgramVersion 3.1.4 -InstallDate 20260101 -WindowRec "
      "\"10 20\" -WindowCaption \"My Updater\" -AffiliateId aff-7 -UpdateIntervalInHours 24 -CheckIntervalInHours "
      "\" -12x\" -Language 1041",
      "VLRenovaWorker.exe -ProgramName \"Pr\xC3\xBC"
      "fer \xE4\xB8\xAD\" -DisplayName Bar -FileList \"a.exe; b.dll ;;c\"",
      "VLRenovaWorker.exe -IsStubExe -UpdateSilent -OnlyDownload -Tray -OnlyAdViewer -HideUpdateCheckResult "
      "-WriteCheckResultToReg -RestartAfterSelfUpdate -UpdateFromVersionV1",
      "x.exe a\\\\\\\"b \"c\"\"d\" \\\\\\\\\"e f\" \"\"",
  };
}

std::vector<std::string> CommandLineWords() {
  return {" -ProgramName ",
          " -ProgramVersion ",
          " -Language ",
          " -InstalledLocation ",
          " -FileList ",
          " -InstallDate ",
          " -WindowRec ",
          " -WindowCaption ",
          " -AffiliateId ",
          " -DisplayName ",
          " -UpdateIntervalInHours ",
          " -CheckIntervalInHours ",
          " /UpdateFromVersionV1",
          " -IsStubExe",
          "\"",
          "\\\\\\\"",
          "\"\"",
          " \t ",
          "\\\\\\\\"};
}

std::vector<std::string> VersionInfoSeeds() {
  using namespace std::string_literals;
  return {"Foo & Bar\r\n2.5.0\r\n1041\r\n{GUID-1}\r\n", "Baz\n1.0\n1033",
          "Renova Test Product\r\n3.0.0\r\n1031\r\nRenova Test Product_is1\r\n",
          "Pr\xFC"
          "fer\r\n4.2\r\n1041\r\n{KEY}\r\n",
          "Name\0with nul\r\n1.0\r\n1033\r\nKey\r\n"s};
}

std::vector<std::string> UrlSeeds() {
  return {"https://update.velbor.example/Renova/VLRNWebservice.asmx/GetClientUpdate",
          "http://host.example",
          "HTTPS://Host.example/x",
          "http://mirror.example/https/Renova/",
          "https://localhost:8443/t/abc/f/status=500/Renova/",
          "http://h:65535",
          "http://[::1]:8080/a",
          "https://[::1]/a",
          "localhost:8080/files/test/payload.txt"};
}

std::vector<std::string> UrlWords() {
  return {"https://", "http://", ":", ":0", ":65536", ":443", "[", "]", "[::1]", "/", "//", "@", "?", "#", "%2f"};
}

}  // namespace fuzz
