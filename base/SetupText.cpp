#include "base/SetupText.h"
#include "base/Format.h"

const WCHAR kProductDisplayName[] = L"岚舟浏览器 3.2 正式版";
WCHAR g_strSetupTitle[128];
WCHAR g_strExitPrompt[128];

void FormatSetupTitle()
{
    Format(g_strSetupTitle, L"%s 安装", kProductDisplayName);
}

void FormatExitPrompt()
{
    Format(g_strExitPrompt, L"您确定要退出 %s 安装程序？", kProductDisplayName);
}
