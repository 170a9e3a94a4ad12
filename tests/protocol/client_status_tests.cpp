// The request document, byte for byte as the server receives it.

#include "protocol/client_status.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "protocol/narrow_for_xml.h"
#include "support/child_process.h"
#include "support/log_capture.h"
#include "support/scratch.h"
#include "system/mac_address.h"
#include "system/machine_guid.h"
#include "system/os_version.h"

namespace {

using testing_support::BinFolder;
using testing_support::ScratchFolder;

std::string Print(const tinyxml2::XMLDocument& document) {
  tinyxml2::XMLPrinter printer;
  document.Accept(&printer);
  return printer.CStr();
}

ProgramInfos Product(const std::wstring& location) {
  ProgramInfos infos;
  infos.ProgramName = L"Client Status Test";
  infos.ProgramVersion = L"1.2.3";
  infos.Language = 1031;
  infos.InstallDate = L"20240102";
  infos.InstalledLocation = location;
  infos.AffiliateId = L"aff-7";
  return infos;
}

void SetLastWriteTime(const std::wstring& path, WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME utc = {year, month, 0, day, hour, minute, second, 0};
  FILETIME time = {};
  ASSERT_TRUE(::SystemTimeToFileTime(&utc, &time));
  const HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &time));
  ::CloseHandle(file);
}

void CopyFixture(const wchar_t* fixture, const std::wstring& target) {
  ASSERT_TRUE(::CopyFileW((BinFolder() + fixture).c_str(), target.c_str(), FALSE)) << fixture;
}

// The system facts as the document must carry them, from the same sources.
std::string SystemInformations() {
  std::string xml;
  std::wstring mac;
  xml += GetMacAddress(mac) ? "        <MAC>" + NarrowForXml(mac) + "</MAC>\n" : "        <MAC/>\n";
  xml += "        <AdViewerVersion/>\n";
  OSVERSIONINFOEXW os = {};
  GetOsVersion(os);
  xml += "        <OsVersion>" + std::to_string(os.dwMajorVersion) + "." + std::to_string(os.dwMinorVersion) + "." +
         std::to_string(os.dwBuildNumber) + "</OsVersion>\n";
  const char* type = os.wProductType == 1 ? "WorkStation" : os.wProductType == 2 ? "DomainController" : "Server";
  xml += std::string("        <OsProductType>") + type + "</OsProductType>\n";
  xml += "        <OsLanguage>" + std::to_string(::GetSystemDefaultLCID()) + "</OsLanguage>\n";
  xml += "        <OsArchitecture>64</OsArchitecture>\n";
  std::wstring guid;
  xml += GetMachineGuid(guid) ? "        <MachineGuid>" + NarrowForXml(guid) + "</MachineGuid>\n"
                              : "        <MachineGuid/>\n";
  return xml;
}

TEST(ClientStatus, UpdateCheckWithAFileListIsSentByteForByte) {
  ScratchFolder folder;
  const std::wstring& location = folder.path();
  CopyFixture(L"two_translations.exe", location + L"Product.exe");
  CopyFixture(L"short_version.exe", location + L"Short.exe");
  SetLastWriteTime(location + L"Short.exe", 2019, 12, 31, 23, 59, 58);
  SetLastWriteTime(folder.WriteFile(L"readme.txt", "read me"), 2021, 3, 4, 5, 6, 7);
  SetLastWriteTime(folder.WriteFile(L"settings.cfg", "x=1"), 2022, 10, 11, 12, 13, 14);
  // In a sub-folder: found there, but its version is looked for in the product
  // folder, where no such file exists, so its date is sent.
  ASSERT_TRUE(::CreateDirectoryW((location + L"Bin").c_str(), nullptr));
  CopyFixture(L"two_translations.exe", location + L"Bin\\tool.exe");
  SetLastWriteTime(location + L"Bin\\tool.exe", 2020, 2, 29, 0, 0, 1);
  ASSERT_TRUE(::CreateDirectoryW((location + L"Docs").c_str(), nullptr));

  ProgramInfos infos = Product(location);
  infos.ProgramName = L"Pr\u00FCfer";
  infos.FileList = {L"Product.exe", L"missing.dll", L"Bin\\tool.exe", L"readme.txt", L"*.cfg", L"Short.exe", L"Docs"};

  testing_support::LogCapture log;
  int32_t error = -1;
  const auto document = CreateClientStatusXml(infos, true, false, &error);
  ASSERT_TRUE(document);
  EXPECT_EQ(error, 0);

  const std::string expected =
      "<ClientStatus>\n"
      "    <Version>9.4.10</Version>\n"
      "    <Parameters/>\n"
      "    <Informations>\n"
      "        <UpdateCheckSilent>True</UpdateCheckSilent>\n"
      "        <UpdateCheckAfterTrayMessage>False</UpdateCheckAfterTrayMessage>\n" +
      SystemInformations() +
      "        <ProgramName>Pr\xFC"
      "fer</ProgramName>\n"
      "        <ProgramVersionNumber>1.2.3</ProgramVersionNumber>\n"
      "        <ProgramLanguage>1031</ProgramLanguage>\n"
      "        <ProgramInstallDate>20240102</ProgramInstallDate>\n"
      "        <AffiliateId>aff-7</AffiliateId>\n"
      "    </Informations>\n"
      "    <InstallDir>\n"
      "        <File RelativePath=\"Product.exe\" Version=\"2.5.1 / 2.5.1-de\"/>\n"
      "        <File RelativePath=\"tool.exe\" CreationDate=\"2020-02-29T00:00:01\"/>\n"
      "        <File RelativePath=\"readme.txt\" CreationDate=\"2021-03-04T05:06:07\"/>\n"
      "        <File RelativePath=\"settings.cfg\" CreationDate=\"2022-10-11T12:13:14\"/>\n"
      "        <File RelativePath=\"Short.exe\" CreationDate=\"2019-12-31T23:59:58\"/>\n"
      "    </InstallDir>\n"
      "</ClientStatus>\n";
  EXPECT_EQ(Print(*document), expected);

  EXPECT_EQ(log.Count(L"start to build ClientStatus.xml"), 1u);
  EXPECT_EQ(log.Count(L"Version: 9.4.10"), 1u);
  EXPECT_EQ(log.Count(L"UpdateCheckSilent = true"), 1u);
  EXPECT_EQ(log.Count(L"UpdateCheckAfterTrayMessage = false"), 1u);
  EXPECT_EQ(log.Count(L"write FileList"), 1u);
  EXPECT_EQ(log.Count(L"FileName: "), 5u);
  EXPECT_EQ(log.Count(L"FileVersion: 2.5.1 / 2.5.1-de"), 1u);
  EXPECT_EQ(log.Count(L"FileCreationDateTime: 2021-03-04T05:06:07"), 1u);
  EXPECT_EQ(log.Count(L"Os Architexture: x64"), 1u);
  EXPECT_EQ(log.Count(L"AdViewerVersion not found"), 1u);
  EXPECT_EQ(log.Count(L"ClientStatus.xml fertig"), 1u);
  // Files without a version resource are expected here: no error lines for them.
  EXPECT_EQ(log.CountAt(L"ERR", L""), log.Count(L"Mac konnte nicht ermittelt werden."));
}

TEST(ClientStatus, InstallationModeAsksForTheSetupAndSendsNoFolder) {
  ScratchFolder folder;
  ProgramInfos infos = Product(folder.path());
  infos.IsStubExe = 1;
  infos.FileList = {L"anything.exe"};
  infos.ProgramName = std::wstring(L"Ab-c") + L'\u4E2D';

  testing_support::LogCapture log;
  const auto document = CreateClientStatusXml(infos, false, true);
  ASSERT_TRUE(document);
  const std::string printed = Print(*document);
  EXPECT_NE(
      printed.find("    <Parameters>\n        <GetLatestSetupFile>True</GetLatestSetupFile>\n    </Parameters>\n"),
      std::string::npos);
  EXPECT_EQ(printed.find("InstallDir"), std::string::npos);
  EXPECT_NE(printed.find("<ProgramName>Abc~78T</ProgramName>"), std::string::npos);
  EXPECT_NE(printed.find("<UpdateCheckSilent>False</UpdateCheckSilent>"), std::string::npos);
  EXPECT_NE(printed.find("<UpdateCheckAfterTrayMessage>True</UpdateCheckAfterTrayMessage>"), std::string::npos);
  EXPECT_EQ(log.Count(L"GetLatestSetupFile = true"), 1u);
  EXPECT_EQ(log.Count(L"write FileList"), 0u);
}

TEST(ClientStatus, EmptyFileListGivesAnEmptyFolderElementAndValuesAreEscaped) {
  ScratchFolder folder;
  ProgramInfos infos = Product(folder.path());
  infos.AffiliateId = L"a<b>&\"c\"";
  infos.InstallDate = L"";

  testing_support::LogCapture log;
  const auto document = CreateClientStatusXml(infos, false, false);
  ASSERT_TRUE(document);
  const std::string printed = Print(*document);
  EXPECT_NE(printed.find("    <Parameters/>\n"), std::string::npos);
  EXPECT_NE(printed.find("    <InstallDir/>\n</ClientStatus>\n"), std::string::npos);
  EXPECT_NE(printed.find("<AffiliateId>a&lt;b&gt;&amp;\"c\"</AffiliateId>"), std::string::npos);
  EXPECT_NE(printed.find("<ProgramInstallDate></ProgramInstallDate>"), std::string::npos);
  EXPECT_EQ(log.Count(L"write FileList"), 0u);
}

TEST(NarrowForXml, Latin1StaysByteForByteAndAnythingAboveTurnsTheWholeValueSafe) {
  EXPECT_EQ(NarrowForXml(L"Pr\u00FCfer"),
            "Pr\xFC"
            "fer");
  EXPECT_EQ(NarrowForXml(L"\u00FF\u0001 x"), "\xFF\x01 x");
  EXPECT_EQ(NarrowForXml(L""), "");
  EXPECT_EQ(NarrowForXml(std::wstring(L"Ab-c") + L'\u4E2D'), "Abc~78T");
  // A character above U+00FF drops the Latin-1 ones too: the whole value is converted.
  EXPECT_EQ(NarrowForXml(L"\u00FC-\u20AC"), "~32S");
  // Long values stay whole.
  EXPECT_EQ(NarrowForXml(std::wstring(1000, L'a')).size(), 1000u);
}

}  // namespace
