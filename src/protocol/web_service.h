#pragma once
// Calls of the update web service: one XML document as one form argument,
// posted to one method, with a single retry over plain HTTP when the TLS
// connection or its certificate fails.

#include <string>

#include <tinyxml2.h>

inline constexpr wchar_t kServiceFileName[] = L"VLRNWebservice.asmx";

inline constexpr wchar_t kGetClientUpdateMethod[] = L"/GetClientUpdate";
inline constexpr wchar_t kReportUpdateStatusMethod[] = L"/ReportUpdateStatus";
inline constexpr wchar_t kReportUpgradeOfferStatusMethod[] = L"/ReportUpgradeOfferStatus";

inline constexpr wchar_t kClientStatusArgument[] = L"clientStatusXML";
inline constexpr wchar_t kUpdateStatusArgument[] = L"UpdateStatusXML";
inline constexpr wchar_t kUpgradeOfferStatusArgument[] = L"UpgradeOfferStatusXML";

// The base URL ("DebugUrl_v2" of the product, else of the updater, else the
// built-in one), the service file and the method path, read anew on every call.
std::wstring GetWebServiceUrl(const std::wstring& methodPath);

// Posts the printed document. 0 when the (last) post succeeded, with the body
// in answer; otherwise PostUrl's last result, answer holding what it left.
unsigned PostToWebService(const std::wstring& argumentName, const tinyxml2::XMLDocument& document,
                          const std::wstring& methodPath, std::wstring& answer);

// The same post for a status report: the answer is dropped, failures only logged.
void PostReportToWebService(const std::wstring& methodPath, const std::wstring& argumentName,
                            const tinyxml2::XMLDocument& document);

// Writes the printed request to the log.
void LogRequestXml(const std::wstring& request);
