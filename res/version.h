// The version this setup installs. One place for the version resource, the uninstall entry and
// the comparison with an installed browser.
#pragma once

#define VELMARIN_VERSION_MAJOR      3
#define VELMARIN_VERSION_MINOR      2
#define VELMARIN_VERSION_BUILD      0
#define VELMARIN_VERSION_REVISION   7
#define VELMARIN_VERSION_TEXT       "3.2.0.7"
