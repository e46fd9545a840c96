// Binding of the outside libraries: by ordinal on Windows, by name through dlopen/dlsym elsewhere.
#pragma once

// Exit status of a run whose outside libraries cannot be bound.
constexpr int EXIT_BINDING_FAILED = 2;

// The program that the lines on standard error name ("oaset: ..."), and beside which the
// libraries are looked for.
extern const char* gBindingProgram;

// Fills gApi and gOptionalApi. On failure writes one line to standard error (library, operation,
// where it looked) and returns 0; returns 1 when every operation is bound.
int BindOutsideLibraries();
