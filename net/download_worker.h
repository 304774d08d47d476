#pragma once

#include <windows.h>

#include <memory>

// The download worker's body: owns the message copy and the DownloadTask it carries.
void RunDownloadTask(std::unique_ptr<MSG> message);

// libcurl progress function of a download (clientp is its DownloadTask): posts
// "<progress name>(<percent>)" each time the whole percentage changes, never 0 %.
// Always returns 0, so it never stops a transfer.
int ReportDownloadProgress(void* clientp, double dltotal, double dlnow, double ultotal,
                           double ulnow);
