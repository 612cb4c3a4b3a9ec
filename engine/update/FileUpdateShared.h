// What the parts of an update share: the journal's name and limits, the set-aside names, and
// the count of updates running in this process.
#pragma once
#include <windows.h>

extern const WCHAR kSetAsidePattern[];  // ".%04x.vmold"
extern const WCHAR kSetAsideSample[];   // ".0000.vmold"
extern const WCHAR kJournalName[];      // "\\VelmarinSetup.journal", after the install folder
const DWORD kMaxRecordBody = 4096;
const DWORD kMaxJournalSize = 16 * 1024 * 1024;
extern volatile LONG g_updatesRunning;

// ".xxxx.vmold", four hexadecimal digits: the set-aside name is the file's own name and this.
bool IsSetAsideSuffix(const WCHAR *suffix, size_t length);
