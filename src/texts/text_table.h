#pragma once
// Every text the updater shows to the user, in English, German and Japanese,
// built into the program. Looked up by text id and the product's language.

#include <windows.h>

#include <string>

// The text ids. Texts marked "format" are printf formats with the arguments named.
enum TextId : int {
  kTextUpdateAvailable = 0,  // "A more up-to-date program version is available. ..."
  kTextAlreadyUpToDate = 1,  // "You already have the most recent version."
  kTextInstallationNotAvailable = 2,
  kTextCacheDeleteFailed = 3,
  kTextOk = 4,
  kTextInstall = 5,
  kTextNotNow = 6,
  kTextDontNotifyAboutUpdate = 7,
  kTextUpdateInProgress = 8,
  kTextPrepareInstallation = 9,
  kTextUpdateSucceeded = 10,
  kTextInstallationSucceeded = 11,
  kTextUpdateFailed = 12,
  kTextInstallationFailed = 13,
  kTextConnectingToServer = 14,
  kTextDeletingCache = 15,
  kTextDownloadingFile = 16,    // format: file name
  kTextDownloadSucceeded = 17,  // format: file name
  kTextDownloadFailed = 18,     // format: file name
  kTextStartingInstallation = 19,
  kTextCopyingNewFiles = 20,
  kTextUpdatingUpdater = 21,
  kTextTwoValues = 22,  // format: two texts, "%s / %s"
  kTextProductLabel = 23,
  kTextYourVersionLabel = 24,
  kTextAvailableVersionLabel = 25,
  kTextEndUpdaterCaption = 26,
  kTextEndUpdaterQuestion = 27,
  kTextCancelInstallationCaption = 28,
  kTextCancelInstallationQuestion = 29,
  kTextServerMaintenance = 30,
  kTextCannotConnect = 31,
  kTextAbort = 32,
  kTextVersionLabel = 33,
  kTextClose = 34,
  kTextEditionProfessional = 35,
  kTextEditionWorkstation = 36,
  kTextEditionServer = 37,
  kTextEditionTech = 38,
  kTextEditionAdmin = 39,
  kTextEditionEdition = 40,
  kTextEditionMedia = 41,
  kTextEditionExpress = 42,
  kTextShowChanges = 43,
  kTextImportantHint = 44,
  kTextUpgradeAlsoAvailable = 45,
  kTextUpgradeMoreInformation = 46,
  kTextPrepareUpdateCheck = 47,
  kTextUpdaterError = 48,  // "... has encountered an error. Please contact the support."
  kTextUse64BitApplication = 49,
  kTextUpdaterCaption = 50,
  kTextOtherSessionActive = 51,
  kTextOtherInstanceRunning = 52,
  kTextConnectionFailed = 53,
  kTextContinue = 54,
  kTextRemindLater = 55,
  kTextPaidUpgradeAvailable = 56,
  kTextDontShowNoticeAgain = 57,
  kTextProductVersion = 58,  // format: product name, major version ("%s - version %d")
  kTextInstallAndReplace = 59,
  kTextUpdaterName = 60,  // the updater's own name, replaced by a WindowCaption
  kTextOsNotSupported = 61,
  kTextFurtherInformation = 62,
  kTextDownloadManually = 63,
  kTextStartDownload = 64,
  kTextUnknown = 65,
  kTextCount = 66
};

// Windows locale ids that have texts of their own; every other locale gets English.
inline constexpr int kLanguageGerman = 1031;
inline constexpr int kLanguageJapanese = 1041;

enum class TextLanguage { kEnglish, kGerman, kJapanese };

// The table's language for a locale id. Only the full locale id counts: Swiss
// or Austrian German get English. 0 stands for `systemDefault`.
TextLanguage ChooseTextLanguage(int language, LCID systemDefault);

// The text for `id` in `language` (a locale id; 0 = the system's default locale).
// Static text, never null; an id outside the table gives the empty text.
const wchar_t* GetText(int id, int language);

// `text` with every occurrence of the updater's name in `language` replaced by
// `windowCaption`; unchanged when the caption is empty.
std::wstring ReplaceUpdaterName(std::wstring text, const std::wstring& windowCaption, int language);
