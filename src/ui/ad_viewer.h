#pragma once
// The ad viewer REVoRuzure.exe, a program of its own that the server's answer
// can ask for: downloaded into the product's cache folder and started there
// for an advertising campaign.

#include <optional>
#include <string>

// Downloads the viewer from url into the product's cache folder, replacing the
// one there; false (and nothing downloaded) when the old one can't be deleted
// or the download fails.
bool DownloadAdViewer(const std::wstring& url);
// Starts the viewer in the cache folder for the campaign, with the machine's
// GUID and the product's language, and waits for it to end. True when it ran,
// whatever its exit code. With vouchedSha256 (a signed instruction's) the
// viewer runs only when its SHA-256 is that one, and it stays open against
// change until it has ended; one that differs is deleted.
bool StartAdViewer(const std::wstring& campaignId, const std::optional<std::wstring>& vouchedSha256 = std::nullopt);
