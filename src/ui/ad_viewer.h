#pragma once
// The ad viewer program that sessions of the ad-viewer kind download and start.
// Not built yet: both calls log so and fail, which ends such a session with 257.

#include <string>

// Downloads the viewer from url into the product's cache folder; true on success.
bool DownloadAdViewer(const std::wstring& url);
// Starts the viewer for the campaign and waits for it; true when it ran.
bool StartAdViewer(const std::wstring& campaignId);
