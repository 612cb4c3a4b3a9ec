# Builds VelmarinSetup.msi from VelmarinSetup.wxs with wixl, the same package byte for byte from
# the same inputs: its codes are derived from them, its dates and its files' times are fixed.
#     cmake -DWIXL=<wixl> -DMSIBUILD=<msibuild> -DFAKETIME=<faketime> -DSOURCE=<wxs> -DSETUP=<exe>
#           -DACTIONS=<dll> -DMANIFEST=<payload manifest> -DFILE_TIME=<seconds since 1970>
#           -DOUTPUT=<msi> [-DVERSION=<a.b.c.d>] -P package.cmake
# VERSION replaces the setup's version, for a test that needs a newer package of the same setup.
cmake_minimum_required(VERSION 3.25)

if(NOT VERSION)
    file(STRINGS "${MANIFEST}" version_line REGEX "^version ")
    string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+" VERSION "${version_line}")
endif()
if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "No version for the package: the payload manifest ${MANIFEST} names none")
endif()
# The Chinese texts as VelmarinSetup.wxs has them (see below why they are written again).
set(product_name "岚舟浏览器 3.2 正式版")
set(manufacturer "青石工作室")
set(downgrade_refused "已安装更新版本的岚舟浏览器，本安装包不能降级。")
if(NOT FILE_TIME)
    set(FILE_TIME 0)
endif()

# A new ProductCode for every version, always the same for one version; the package code, which
# names this very package, follows everything that goes into it.
set(namespace 6f1d3c2a-8b47-4e59-a0d6-2c9e7b5f3a18)
string(UUID product_code NAMESPACE ${namespace} NAME "ProductCode ${VERSION}" TYPE SHA1 UPPER)
file(SHA256 "${SETUP}" setup_hash)
file(SHA256 "${ACTIONS}" actions_hash)
file(SHA256 "${SOURCE}" source_hash)
string(UUID package_code NAMESPACE ${namespace}
       NAME "PackageCode ${VERSION} ${setup_hash} ${actions_hash} ${source_hash}" TYPE SHA1 UPPER)

# The cabinet keeps each file's time: copies with the commit's time go in.
get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
set(work "${output_dir}/package-files")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")
file(COPY_FILE "${SETUP}" "${work}/VelmarinSetup.exe")
file(COPY_FILE "${ACTIONS}" "${work}/PackageActions.dll")
# wixl takes its files by names relative to the source's folder.
file(COPY_FILE "${SOURCE}" "${work}/VelmarinSetup.wxs")
execute_process(COMMAND touch -d "@${FILE_TIME}" "${work}/VelmarinSetup.exe" "${work}/PackageActions.dll"
                COMMAND_ERROR_IS_FATAL ANY)

# The commit's time, frozen while wixl runs (a time without "@" stands still for libfaketime).
execute_process(COMMAND date -u -d "@${FILE_TIME}" "+%Y-%m-%d %H:%M:%S" OUTPUT_VARIABLE frozen
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(ENV{TZ} UTC)
file(REMOVE "${OUTPUT}.new")
# wixl stamps the summary with the time it runs and a random package code: it runs at the
# commit's time, and the package code is put right afterwards.
execute_process(
    COMMAND ${FAKETIME} -f "${frozen}" ${WIXL} --arch x86
            -D Version=${VERSION} -D ProductCode={${product_code}}
            -D SetupExe=VelmarinSetup.exe -D ActionDll=PackageActions.dll
            -o "${OUTPUT}.new" VelmarinSetup.wxs
    WORKING_DIRECTORY "${work}" RESULT_VARIABLE failed ERROR_VARIABLE errors)
if(failed)
    message(FATAL_ERROR "wixl failed: ${errors}")
endif()
# wixl leaves the database's code page at 0 and drops every text that is not ASCII from its
# tables: the code page is set to 936 and the Chinese texts are written again. wixl takes no
# Secure attribute and no rollback action either.
file(WRITE "${work}/_ForceCodepage.idt" "\r\n\r\n936\t_ForceCodepage\r\n")
execute_process(
    COMMAND ${FAKETIME} -f "${frozen}" ${MSIBUILD} "${OUTPUT}.new" -i "${work}/_ForceCodepage.idt"
        -q "UPDATE `Property` SET `Value` = '${product_name}' WHERE `Property` = 'ProductName'"
        -q "UPDATE `Property` SET `Value` = '${manufacturer}' WHERE `Property` = 'Manufacturer'"
        -q "UPDATE `LaunchCondition` SET `Description` = '${downgrade_refused}' WHERE `Condition` = 'NOT NEWERPACKAGEFOUND OR Installed'"
        # The public properties that pass to the installation's server side, which runs as the
        # machine's account: those an administrator's first installation takes, also from a
        # prompt without elevation. The custom actions use them on a first installation only, as
        # any user may start a repair; a transform's values are the package's own.
        -q "UPDATE `Property` SET `Value` = 'OLDERPACKAGEFOUND;NEWERPACKAGEFOUND;INSTALLDIR;DESKTOP_SHORTCUT;QUICKLAUNCH_SHORTCUT;DEFAULT_BROWSER;CLOSE_BROWSER' WHERE `Property` = 'SecureCustomProperties'"
        # A DLL's deferred action without impersonation, run on rollback only (3329), whose result is ignored (64).
        -q "UPDATE `CustomAction` SET `Type` = 3393 WHERE `Action` = 'UndoSetupOwnership'"
        -s "${product_name}" "${manufacturer}" "Intel;2052" "{${package_code}}"
    COMMAND_ERROR_IS_FATAL ANY)
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
file(REMOVE_RECURSE "${work}")
message(STATUS "VelmarinSetup.msi ${VERSION}, ProductCode {${product_code}}")
