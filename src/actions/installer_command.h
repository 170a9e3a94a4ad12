#pragma once
// What the update action tells the product's setup: the Windows Installer
// properties chosen from the instruction and the product's feature states,
// and the whole command line.

#include <string>
#include <vector>

#include "product/installed_product_sources.h"

// "ADDLOCAL=ALL" followed by " ADDSOURCE=", " REMOVE=" and " ADVERTISE=" with
// the features run from source, absent and advertised, each left out when no
// feature has its state; empty without features. Nameless features are skipped.
std::wstring FeatureProperties(const std::vector<MsiFeatureState>& features);

// "<cacheFolder>\Setup.exe" /s /NoSetupFromWeb /v"<ui> <properties> INSTALLDIR=\"<location>\\""
// The cache folder and the location end with "\", so both come out doubled,
// which the system and the setup's own parser accept.
std::wstring UpdateCommandLine(const std::wstring& cacheFolder, const std::wstring& uiSwitch,
                               const std::wstring& properties, const std::wstring& installedLocation);

// The setup asks to be run once more without taking anything from the web:
// every "/NoSetupFromWeb " removed.
std::wstring WithoutSetupFromWeb(std::wstring commandLine);
