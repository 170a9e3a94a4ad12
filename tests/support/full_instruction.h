#pragma once
// An instruction with every general field and every kind of action, values at
// their edges: what the instruction tests parse, and one of the documents the
// fuzzer starts its mutations from.

namespace testing_support {

inline constexpr char kFullInstruction[] = R"(<Instruction>
  <ErrorMessage>Server says no</ErrorMessage>
  <NewProductVersion>2.0.0</NewProductVersion>
  <MaxUpdateableProductVersionExistingOnServer>1.9</MaxUpdateableProductVersionExistingOnServer>
  <ChangeLogUrl>https://host.example/log?a=1&amp;b=2</ChangeLogUrl>
  <MajorUpgradeProductUrl>https://host.example/major</MajorUpgradeProductUrl>
  <MajorUpgradeProductLinkText>Read this</MajorUpgradeProductLinkText>
  <MajorUpgradeProductVersion> 3rd</MajorUpgradeProductVersion>
  <SuppressReboot>True</SuppressReboot>
  <IsReInstallModeAMUS>tRuE</IsReInstallModeAMUS>
  <UpdateId>  +42x</UpdateId>
  <OsNotCompatibleUrl>https://host.example/os</OsNotCompatibleUrl>
  <AdViewerUrl>https://host.example/ad.exe</AdViewerUrl>
  <AdCampaignId>camp-9</AdCampaignId>
  <Pre>
    <Action Name="StopProcess" FileName="Tool.exe"/>
    <Action Name="StopService" FileName="ToolService"/>
    <Action Name="DelRegValue" Key="Software\Velbor\Tool" Value="Old"/>
    <Action Name="SetRegValue" Key="Software\Velbor\Tool" Value="Mode" Type="DWORD" Data="2"/>
    <Action Name="StartProcess" FileName="Wrong.exe"/>
  </Pre>
  <Download>
    <File Url="https://host.example/setup.exe" RelativeTargetFolder="" FileName="setup.exe"/>
    <Anything Url="https://host.example/data.cab" RelativeTargetFolder="sub\dir" FileName="data.cab"/>
  </Download>
  <Post>
    <Action Name="StartProcess" FileName="Tool.exe"/>
    <Action Name="StartService" FileName="ToolService"/>
    <Action Name="SetRegValue" Key="Software\Velbor\Tool" Value="Done" Type="SZ" Data="yes" PostInstallationActionCompatible="1"/>
    <Action Name="StopService" FileName="ToolService"/>
  </Post>
</Instruction>)";

}  // namespace testing_support
