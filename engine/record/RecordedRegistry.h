// The registry values and keys an install record names, removed only as the setup left them.
#pragma once
#include "engine/record/InstallRecord.h"

// True when the value went, or was gone already; false when another program changed it.
bool RemoveRecordedValue(const RecordItem &item);
// A key the setup made goes when nothing is left in it; true when it went.
bool RemoveRecordedKeyIfEmpty(const RecordItem &item);
