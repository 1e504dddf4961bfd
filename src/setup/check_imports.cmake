# Fails unless the executable imports only DLLs that Windows always loads from the system folder
# (KnownDLLs, and ntdll), so that nothing planted beside it can be loaded at startup.
# Usage: cmake -DOBJDUMP=<objdump> -DEXECUTABLE=<exe> -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
set(allowed
    advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll difxapi.dll gdi32.dll gdiplus.dll
    imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ntdll.dll ole32.dll
    oleaut32.dll psapi.dll rpcrt4.dll sechost.dll setupapi.dll shcore.dll shell32.dll shlwapi.dll
    user32.dll wldap32.dll ws2_32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${EXECUTABLE}
    OUTPUT_VARIABLE dump RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${EXECUTABLE}: ${errors}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" entries "${dump}")
if(NOT entries)
    message(FATAL_ERROR "no imported DLLs found in ${EXECUTABLE}")
endif()
set(refused)
foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^DLL Name: " "" dll "${entry}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll_lower)
    if(NOT dll_lower IN_LIST allowed)
        list(APPEND refused "${dll}")
    endif()
    message(STATUS "imports ${dll}")
endforeach()
if(refused)
    message(FATAL_ERROR "imports DLLs that are not loaded from the system folder only: ${refused}")
endif()
