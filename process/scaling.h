// The conversion table's scaling before the derivations.
#pragma once

#include "model/pdata.h"

// Every value of a field whose key has a table row, that was not read back
// from the output and differs from the field's fill value becomes
// amplification_before * value + offset_before (in double precision).
void scaleBeforeDerivations(CachedData& store);
