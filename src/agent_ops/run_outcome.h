// Whether any step of the run failed, for the exit status that OASET_STRICT=1 promises.
#pragma once

void NoteFailedStep();
bool AnyStepFailed();
