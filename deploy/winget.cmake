# Writes the winget manifests of a build: the version, default-locale (zh-CN) and installer
# manifests of VelmarinSetup.exe and VelmarinSetup.msi, with each file's SHA-256, the exit codes
# the setup and the uninstaller answer, read from their own table (app/Outcomes.h), and the
# package's codes, read from the package itself.
#     cmake -DSETUP=<exe> -DPACKAGE=<msi> -DMSIINFO=<msiinfo> -DOUTCOMES=<Outcomes.h>
#           -DURL=<the release's download folder, "<VERSION>" standing for its version>
#           -DOUTPUT=<folder> -P winget.cmake
cmake_minimum_required(VERSION 3.25)

set(identifier QingshiStudio.Velmarin)
set(manifest_version 1.10.0)

execute_process(COMMAND ${MSIINFO} export "${PACKAGE}" Property OUTPUT_VARIABLE properties COMMAND_ERROR_IS_FATAL ANY)
foreach(name ProductCode UpgradeCode ProductVersion ProductName Manufacturer)
    if(NOT properties MATCHES "\n${name}\t([^\r\n]+)")
        message(FATAL_ERROR "The package ${PACKAGE} has no ${name}")
    endif()
    set(${name} "${CMAKE_MATCH_1}")
endforeach()
set(version ${ProductVersion})
string(REPLACE "<VERSION>" "${version}" url "${URL}")
if(NOT url MATCHES "^https?://[^ ]+[^/]$")
    message(FATAL_ERROR "No download folder for the manifests' InstallerUrl: \"${URL}\"")
endif()
file(SHA256 "${SETUP}" setup_hash)
file(SHA256 "${PACKAGE}" package_hash)
string(TOUPPER "${setup_hash}" setup_hash)
string(TOUPPER "${package_hash}" package_hash)

# What winget is told each exit code means. A code of the table without an answer here stops the
# build, so that no new code is left out of the manifest.
set(answer_kOutcomeRestartNeeded rebootRequiredToFinish)
set(answer_kOutcomeBadArguments invalidParameter)
set(answer_kOutcomeLogRefused invalidParameter)
set(answer_kOutcomeFolderRefused invalidParameter)
set(answer_kOutcomeBrowserRunning packageInUse)
set(answer_kOutcomeAnotherSetup installInProgress)
set(answer_kOutcomeDiskFull diskFull)
set(answer_kOutcomePayloadDamaged contactSupport)
set(answer_kOutcomeCopyFailed contactSupport)
set(answer_kOutcomeNotElevated custom)
set(answer_kOutcomeNewerInstalled downgrade)
set(answer_kOutcomeRecordKept contactSupport)
set(answer_kOutcomeNotInstalled custom)
set(answer_kOutcomeRecordRefused contactSupport)
set(answer_kOutcomeOthersCouldChange contactSupport)
set(answer_kOutcomeFilesStayed fileInUse)
# Success needs no entry, and a closed progress page is an interactive run's alone.
set(answer_kOutcomeDone "")
set(answer_kOutcomeCancelled "")

file(STRINGS "${OUTCOMES}" outcome_lines REGEX "^ *kOutcome[A-Za-z]+ = [0-9]+,")
set(return_codes "")
foreach(line IN LISTS outcome_lines)
    string(REGEX MATCH "(kOutcome[A-Za-z]+) = ([0-9]+)" found "${line}")
    set(name ${CMAKE_MATCH_1})
    set(code ${CMAKE_MATCH_2})
    if(NOT DEFINED answer_${name})
        message(FATAL_ERROR "${OUTCOMES}: ${name} (${code}) has no answer for winget in ${CMAKE_CURRENT_LIST_FILE}")
    endif()
    if(answer_${name})
        string(APPEND return_codes "  - InstallerReturnCode: ${code}\n    ReturnResponse: ${answer_${name}}\n")
    endif()
endforeach()
if(NOT return_codes)
    message(FATAL_ERROR "No exit codes found in ${OUTCOMES}")
endif()

set(head "PackageIdentifier: ${identifier}\nPackageVersion: ${version}\n")
set(tail "ManifestVersion: ${manifest_version}\n")
file(REMOVE_RECURSE "${OUTPUT}")
file(WRITE "${OUTPUT}/${identifier}.yaml"
    "# yaml-language-server: $schema=https://aka.ms/winget-manifest.version.${manifest_version}.schema.json\n"
    "${head}DefaultLocale: zh-CN\nManifestType: version\n${tail}")
file(WRITE "${OUTPUT}/${identifier}.locale.zh-CN.yaml"
    "# yaml-language-server: $schema=https://aka.ms/winget-manifest.defaultLocale.${manifest_version}.schema.json\n"
    "${head}PackageLocale: zh-CN\nPublisher: '${Manufacturer}'\nPackageName: '岚舟浏览器'\nMoniker: velmarin\n"
    "License: '专有软件'\nShortDescription: '${ProductName}'\nManifestType: defaultLocale\n${tail}")
# /D= comes last, where winget puts it, and takes the rest of the line; the log's path may hold
# blanks, so it is quoted.
file(WRITE "${OUTPUT}/${identifier}.installer.yaml"
    "# yaml-language-server: $schema=https://aka.ms/winget-manifest.installer.${manifest_version}.schema.json\n"
    "${head}Scope: machine\nInstallModes:\n  - interactive\n  - silent\nUpgradeBehavior: install\nInstallers:\n"
    "- Architecture: x86\n  InstallerType: exe\n  InstallerUrl: ${url}/VelmarinSetup.exe\n"
    "  InstallerSha256: ${setup_hash}\n  ElevationRequirement: elevatesSelf\n"
    "  InstallerSwitches:\n    Silent: /S\n    SilentWithProgress: /S\n    InstallLocation: /D=<INSTALLPATH>\n"
    "    Log: '/Log=\"<LOGPATH>\"'\n  ExpectedReturnCodes:\n${return_codes}"
    "- Architecture: x86\n  InstallerType: msi\n  InstallerUrl: ${url}/VelmarinSetup.msi\n"
    "  InstallerSha256: ${package_hash}\n  ProductCode: '${ProductCode}'\n  AppsAndFeaturesEntries:\n"
    "  - DisplayName: '${ProductName}'\n    Publisher: '${Manufacturer}'\n    DisplayVersion: ${version}\n"
    "    ProductCode: '${ProductCode}'\n    UpgradeCode: '${UpgradeCode}'\n"
    "ManifestType: installer\n${tail}")
message(STATUS "winget manifests of ${identifier} ${version} in ${OUTPUT}")
