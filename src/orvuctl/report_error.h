// orvuctl's lines on standard error and its exit statuses.
#pragma once

#include <string>

constexpr int ORVUCTL_EXIT_DONE = 0;
constexpr int ORVUCTL_EXIT_REFUSED = 1;
constexpr int ORVUCTL_EXIT_USAGE = 2;

// "orvuctl: TEXT" and a line end, on standard error.
void ReportError(const std::string& text);
