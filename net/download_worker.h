#pragma once

#include <windows.h>

#include <memory>

// The download worker's body: owns the message copy and the DownloadTask it carries.
void RunDownloadTask(std::unique_ptr<MSG> message);
