// Binding of the outside libraries: by ordinal on Windows, by name through dlopen/dlsym elsewhere.
#pragma once

// Exit status of a run whose outside libraries cannot be bound.
constexpr int EXIT_BINDING_FAILED = 2;

// Fills gApi. On failure writes one line to standard error (library, operation, where it looked)
// and returns 0; returns 1 when every operation is bound.
int BindOutsideLibraries();
