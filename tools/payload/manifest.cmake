# Describes the browser file set that the payload installer packs, and checks it against what
# the setup installs. Run as
#     cmake -DSOURCE_DIR=<file set> -DMANIFEST=<output> -DVERSION_HEADER=<output> -DWRESTOOL=<wrestool>
#           [-DFILE_LIST=<output>] [-DFILE_TIME=<seconds since 1970>] -P manifest.cmake
# It writes the manifest the setup carries (format in engine/payload/PayloadManifest.h) and a header with
# the browser's version, taken from the version resource of the file set's Velmarin.exe: the one
# source of the version that the setup's own version resource, its uninstall entry and its
# comparison with an installed browser use. With FILE_LIST it also writes the files' paths in the
# manifest's order, one a line, the order the payload packs them in; with FILE_TIME it
# first gives every file that modification time (the stand-in set, whose files a build makes anew).
cmake_minimum_required(VERSION 3.25)

# The version, from VS_FIXEDFILEINFO (signature FEEF04BD) of Velmarin.exe.
set(browser "${SOURCE_DIR}/Velmarin.exe")
if(NOT EXISTS "${browser}")
    message(FATAL_ERROR "The browser file set ${SOURCE_DIR} has no Velmarin.exe.")
endif()
get_filename_component(work "${MANIFEST}" DIRECTORY)
set(resource "${work}/browser-version.res")
execute_process(COMMAND ${WRESTOOL} -x --raw --type=16 "${browser}" OUTPUT_FILE "${resource}" RESULT_VARIABLE failed)
set(hex "")
if(NOT failed AND EXISTS "${resource}")
    file(READ "${resource}" hex HEX)
endif()
string(FIND "${hex}" "bd04effe" signature)
if(signature LESS 0)
    message(FATAL_ERROR "${browser} has no version resource. The setup takes the browser's version from "
        "it: give Velmarin.exe a version resource (FILEVERSION).")
endif()
# A DWORD of the fixed file information, little-endian, `offset` bytes after the signature.
function(fixed_dword offset out)
    math(EXPR at "${signature} + ${offset} * 2")
    string(SUBSTRING "${hex}" ${at} 8 le)
    string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" be "${le}")
    math(EXPR value "0x${be}")
    set(${out} ${value} PARENT_SCOPE)
endfunction()
fixed_dword(8 ms)
fixed_dword(12 ls)
math(EXPR major "${ms} >> 16")
math(EXPR minor "${ms} & 65535")
math(EXPR build "${ls} >> 16")
math(EXPR revision "${ls} & 65535")
set(version "${major}.${minor}.${build}.${revision}")

# The copy table: what is always installed must be there; what nothing installs is told.
set(always Velmarin.exe WebApp.exe UnInst.exe)
foreach(plugin PlgKit PlgStrip PlgBlock PlgTabs PlgRelay PlgHint PlgFetch)
    list(APPEND always "Extensions/${plugin}/${plugin}.dll")
endforeach()
set(missing "")
foreach(file ${always})
    if(NOT EXISTS "${SOURCE_DIR}/${file}")
        list(APPEND missing "${file}")
    endif()
endforeach()
if(NOT IS_DIRECTORY "${SOURCE_DIR}/Skin/Frost_Glass")
    list(APPEND missing "Skin/Frost_Glass/")
endif()
if(missing)
    list(JOIN missing "\n    " listed)
    message(FATAL_ERROR "The browser file set ${SOURCE_DIR} lacks what the setup always installs:\n    ${listed}")
endif()
set(optional Extensions/GuardHub/GuardHub.dll Extensions/GuardHub/urlproc.dll)

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
list(SORT files)
if(FILE_TIME)
    execute_process(COMMAND find "${SOURCE_DIR}" -exec touch -h -d "@${FILE_TIME}" {} + RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Could not set the file times in ${SOURCE_DIR}")
    endif()
endif()
set(paths "")
set(lines "")
set(total 0)
set(count 0)
set(unused "")
foreach(file ${files})
    file(SIZE "${SOURCE_DIR}/${file}" size)
    file(SHA256 "${SOURCE_DIR}/${file}" hash)
    math(EXPR total "${total} + ${size}")
    math(EXPR count "${count} + 1")
    string(REPLACE "/" "\\" windows "${file}")
    string(APPEND lines "${hash} ${size} \\${windows}\n")
    string(APPEND paths "${file}\n")
    list(FIND always "${file}" isAlways)
    list(FIND optional "${file}" isOptional)
    if(isAlways LESS 0 AND isOptional LESS 0 AND NOT file MATCHES "^Skin/Frost_Glass/")
        list(APPEND unused "${file}")
    endif()
endforeach()
if(unused)
    list(JOIN unused "\n    " listed)
    message(WARNING "The setup never installs these files of ${SOURCE_DIR}:\n    ${listed}")
endif()

if(FILE_LIST)
    file(WRITE "${FILE_LIST}" "${paths}")
endif()
file(WRITE "${MANIFEST}.new" "velmarin-payload-manifest 1\nversion ${version}\nfiles ${count}\ntotal ${total}\n${lines}")
file(RENAME "${MANIFEST}.new" "${MANIFEST}")
file(WRITE "${VERSION_HEADER}.new" "// Made by the build from the payload's Velmarin.exe.
#pragma once
#define VELMARIN_VERSION_MAJOR      ${major}
#define VELMARIN_VERSION_MINOR      ${minor}
#define VELMARIN_VERSION_BUILD      ${build}
#define VELMARIN_VERSION_REVISION   ${revision}
#define VELMARIN_VERSION_TEXT       \"${version}\"
")
# Unchanged contents keep the file's time: nothing that includes it is rebuilt for nothing.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${VERSION_HEADER}.new" "${VERSION_HEADER}")
file(REMOVE "${VERSION_HEADER}.new" "${resource}")
