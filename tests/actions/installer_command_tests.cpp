// The properties and the command line that the update hands to the product's setup.
#include "actions/installer_command.h"

#include <gtest/gtest.h>

TEST(FeatureProperties, EachStateGoesToItsPropertyInListOrder) {
  const std::vector<MsiFeatureState> features = {{L"A", 4}, {L"B", 2}, {L"C", 1}, {L"D", 4}, {L"E", 3}};
  EXPECT_EQ(FeatureProperties(features), L"ADDLOCAL=ALL ADDSOURCE=A,D REMOVE=B ADVERTISE=C");
  // Only local features: everything is covered by ADDLOCAL=ALL.
  EXPECT_EQ(FeatureProperties({{L"Main", 3}, {L"Help", 3}}), L"ADDLOCAL=ALL");
  // Nameless features and states the installer does not use here are skipped.
  EXPECT_EQ(FeatureProperties({{L"", 4}, {L"X", 4}, {L"Y", -1}, {L"Z", 5}}), L"ADDLOCAL=ALL ADDSOURCE=X");
  EXPECT_EQ(FeatureProperties({}), L"");
}

TEST(UpdateCommandLine, QuotesTheSetupAndTheInstallationFolderAsTheSetupExpects) {
  EXPECT_EQ(UpdateCommandLine(L"C:\\Users\\u\\AppData\\Local\\Temp\\VI Vadavura\\VL Renova\\Tool 3\\Cache\\", L"/qb",
                              L"REINSTALL=ALL REINSTALLMODE=vamus REBOOT=ReallySuppress ADDLOCAL=ALL ADDSOURCE=Help",
                              L"C:\\Program Files\\Tool\\"),
            L"\"C:\\Users\\u\\AppData\\Local\\Temp\\VI Vadavura\\VL Renova\\Tool 3\\Cache\\\\Setup.exe\" /s "
            L"/NoSetupFromWeb /v\"/qb REINSTALL=ALL REINSTALLMODE=vamus REBOOT=ReallySuppress ADDLOCAL=ALL "
            L"ADDSOURCE=Help INSTALLDIR=\\\"C:\\Program Files\\Tool\\\\\\\"\"");
  // Without features the properties end with their blank, which the line keeps.
  EXPECT_EQ(UpdateCommandLine(L"C:\\c\\", L"/qn", L"REINSTALLMODE=amus ", L"D:\\p\\"),
            L"\"C:\\c\\\\Setup.exe\" /s /NoSetupFromWeb /v\"/qn REINSTALLMODE=amus  INSTALLDIR=\\\"D:\\p\\\\\\\"\"");
}

TEST(UpdateCommandLine, TheRerunDropsEveryNoSetupFromWeb) {
  EXPECT_EQ(WithoutSetupFromWeb(L"\"C:\\c\\\\Setup.exe\" /s /NoSetupFromWeb /v\"/qn\""),
            L"\"C:\\c\\\\Setup.exe\" /s /v\"/qn\"");
  EXPECT_EQ(WithoutSetupFromWeb(L"/NoSetupFromWeb /NoSetupFromWeb /NoSetupFromWeb"), L"/NoSetupFromWeb");
  // The installation's arguments hold the property, not the switch: unchanged.
  EXPECT_EQ(WithoutSetupFromWeb(L"/v\"NoSetupFromWeb=\"1\"\""), L"/v\"NoSetupFromWeb=\"1\"\"");
}
