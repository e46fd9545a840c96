#include "orvuctl/report_error.h"

#include <cstdio>

void ReportError(const std::string& text) { std::fprintf(stderr, "orvuctl: %s\n", text.c_str()); }
