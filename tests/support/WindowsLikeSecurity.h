// Descriptors as Windows keeps them, for tests of what only administrators could change: Debian's
// Wine keeps no access lists, so they are fed through the folder security hooks.
#pragma once
#include "base/FolderSecurity.h"
#include "engine/folder/InstallFolder.h"
#include "support/TestSupport.h"
#include <windows.h>
#include <sddl.h>
#include <map>
#include <string>
#include <vector>

// Descriptors as Windows would have them, fed to the setup: every object reads as only
// administrators' unless the test says otherwise; what the setup applies reads back as Windows
// would keep it (a protected list as given; an object made to inherit again as its protected
// folder passes down), and every application and protected creation is noted in order.
struct WindowsLikeSecurity {
    static std::map<std::wstring, std::wstring> &Descriptors()
    {
        static std::map<std::wstring, std::wstring> descriptors;
        return descriptors;
    }
    struct Applied {
        std::wstring path;
        bool emptyThen, created;
        std::wstring sddl;
    };
    static std::vector<Applied> &AppliedTo()
    {
        static std::vector<Applied> applied;
        return applied;
    }
    // Descriptors belong to the object, whatever name reaches it.
    static std::wstring Key(const std::wstring &path)
    {
        wchar_t final[MAX_PATH];
        std::wstring key = FinalFolderPath(path.c_str(), final) ? final : path;
        CharLowerW(&key[0]);
        return key;
    }
    static PSECURITY_DESCRIPTOR Read(const wchar_t *path)
    {
        auto found = Descriptors().find(Key(path));
        const wchar_t *sddl = found != Descriptors().end() ? found->second.c_str()
                                                           : L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr);
        return descriptor;
    }
    static bool Apply(const wchar_t *path, PSECURITY_DESCRIPTOR descriptor)
    {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(descriptor, &control, &revision);
        wchar_t *sddl = nullptr;
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl, nullptr);
        if (control & SE_DACL_PROTECTED)
            Descriptors()[Key(path)] = sddl;
        else
            Descriptors().erase(Key(path));
        AppliedTo().push_back({path, test::FolderContents(path).empty(), false, sddl});
        LocalFree(sddl);
        return true;
    }
    static bool Create(const wchar_t *path, PSECURITY_DESCRIPTOR descriptor)
    {
        if (!CreateDirectoryW(path, nullptr))
            return false;
        wchar_t *sddl = nullptr;
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl, nullptr);
        Descriptors()[Key(path)] = sddl;
        AppliedTo().push_back({path, true, true, sddl});
        LocalFree(sddl);
        return true;
    }
    WindowsLikeSecurity()
    {
        static const FolderSecurityHooks hooks = {Read, Apply, Create};
        SetFolderSecurityHooks(&hooks);
    }
    ~WindowsLikeSecurity()
    {
        SetFolderSecurityHooks(nullptr);
        Descriptors().clear();
        AppliedTo().clear();
    }
};
