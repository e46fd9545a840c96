// The tool's words on standard error: findings (input dropped, read in part or unusable) and the
// reasons behind a FAILED. Standard output never carries them, so scripts that parse it see the
// same text with or without them.
#pragma once

#include <cstddef>
#include <string>

// Writes "oaset: TEXT" and a line end to standard error and counts it as a finding.
void ReportFinding(const std::string& text);
// Writes "oaset: TEXT" and a line end to standard error; not a finding.
void ReportReason(const std::string& text);
size_t FindingCount();

// OASET_STRICT=1 in the environment: findings are errors and the exit status tells every failure.
bool StrictMode();
// The status of a run that strict mode stops after the command line.
constexpr int EXIT_STRICT_FINDINGS = 2;
