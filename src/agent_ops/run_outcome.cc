#include "agent_ops/run_outcome.h"

namespace {
bool gStepFailed = false;
}

void NoteFailedStep() { gStepFailed = true; }

bool AnyStepFailed() { return gStepFailed; }
