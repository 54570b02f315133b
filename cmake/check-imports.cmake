# Fails when the executable imports a DLL that is not one of Windows' known DLLs (a
# compiler runtime, or a DLL of Windows' such as bcrypt.dll): the loader would look for
# it beside the executable first, in a folder that ordinary users can write to, and run
# it with administrator rights. ntdll.dll is loaded into every process before the
# executable. Other DLLs of Windows' are loaded at run time from the system folder.
# Usage: cmake -DOBJDUMP=<objdump> -DEXE=<file> -DFORMAT=<pei-i386|pei-x86-64>
#        -P check-imports.cmake
set(allowed KERNEL32.dll USER32.dll ADVAPI32.dll SHELL32.dll SHLWAPI.dll ole32.dll OLEAUT32.dll
            ntdll.dll msvcrt.dll)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} failed on ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
    message(FATAL_ERROR "no imports found in ${EXE}")
endif()
if(NOT dump MATCHES "file format ${FORMAT}\n")
    message(FATAL_ERROR "${EXE} is not of the format ${FORMAT}")
endif()
string(REGEX MATCH "Subsystem[ \t]+[0-9a-fA-F]+[ \t]+\\(Windows GUI\\)" gui "${dump}")
if(NOT gui)
    message(FATAL_ERROR "${EXE} is not a Windows GUI program")
endif()
foreach(entry IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${entry}")
    string(TOUPPER "${dll}" upper)
    set(known FALSE)
    foreach(ok IN LISTS allowed)
        string(TOUPPER "${ok}" ok_upper)
        if(upper STREQUAL ok_upper)
            set(known TRUE)
        endif()
    endforeach()
    if(NOT known)
        # A status line is never rewrapped, whatever the length of the path before it.
        message(STATUS "refused import: ${dll}")
        message(FATAL_ERROR "${EXE} imports ${dll}, which is not one of Windows' known DLLs")
    endif()
    message(STATUS "import: ${dll}")
endforeach()
