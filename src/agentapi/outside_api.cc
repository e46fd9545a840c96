#include "agentapi/outside_api.h"

OutsideApi gApi{};
OptionalApi gOptionalApi{};
