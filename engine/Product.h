// Fixed names of the product as the system knows it.
#pragma once
#include <windows.h>

extern const WCHAR kProductWebHost[];      // host of the product web site
extern const WCHAR kUninstallKey[];        // under HKLM
extern const WCHAR kAppPathKey[];          // under HKLM: its default value is the browser's full path
extern const WCHAR kClientKey[];           // under HKLM: the start-menu internet client
extern const WCHAR kCapabilitiesKey[];     // under HKLM
extern const WCHAR kUrlClass[];            // the URL class's name
extern const WCHAR kUrlClassKey[];         // under HKLM: the machine's own classes, never a user's
extern const WCHAR kActiveSetupKey[];      // under HKLM (and each user's HKCU): the component whose
                                           // StubPath runs at each user's logon, once a version
extern const WCHAR kUserPartsProgram[];    // "\VelmarinUser.exe", after the install folder: that program
extern const WCHAR kIniSection[];          // "AddUnstall": the browser's ini section, and
extern const WCHAR kIniKey[];              // "IsSave", the installation's mark in it

// The registry keys that are the browser's own, each with everything below it (under HKLM).
// Keys on the way to them are shared with other programs, and never the setup's to remove.
bool IsOwnRegistryKey(const WCHAR *key);
// A key on the way to one of those, such as SOFTWARE\Clients\StartMenuInternet.
bool IsSharedParentKey(const WCHAR *key);

// The installed file with the longest path below the install folder: every other path fits
// where this one does.
extern const WCHAR kLongestInstalledFile[];
