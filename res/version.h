// The version of the stand-in browser that the default build packs. The setup itself takes the
// version it installs from the packed Velmarin.exe, whatever file set that is: the build writes
// it into the payload manifest and into payload_version.h for the setup's version resource.
#pragma once

#define VELMARIN_VERSION_MAJOR      3
#define VELMARIN_VERSION_MINOR      2
#define VELMARIN_VERSION_BUILD      0
#define VELMARIN_VERSION_REVISION   7
#define VELMARIN_VERSION_TEXT       "3.2.0.7"
