// The payload program's resources, beside the manifest it shares with the setup
// (IDB_PAYLOAD_MANIFEST, res/resource.h): the .xz stream of the files' bytes.
#pragma once
#include "resource.h"

#define IDB_PAYLOAD_STREAM 1
