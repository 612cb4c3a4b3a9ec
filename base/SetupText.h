// The product's name and the texts formed from it at start-up.
#pragma once
#include <windows.h>

extern const WCHAR kProductDisplayName[];   // "岚舟浏览器 3.2 正式版"
extern WCHAR g_strSetupTitle[128];          // "<display name> 安装": mutex name and page caption
extern WCHAR g_strExitPrompt[128];          // the exit question

void FormatSetupTitle();
void FormatExitPrompt();
