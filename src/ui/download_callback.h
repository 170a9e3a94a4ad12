#pragma once
// The download progress callback that an installation run hands to its file
// downloads. The progress display is not built yet: for now it is an empty
// object that the run's thread keeps on its stack for the length of the run.

class DownloadCallback {
 public:
  DownloadCallback() = default;
  DownloadCallback(const DownloadCallback&) = delete;
  DownloadCallback& operator=(const DownloadCallback&) = delete;
};
