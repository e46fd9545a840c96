// -e: the parameters as the parser understood them.
#pragma once

void EchoParameters();
