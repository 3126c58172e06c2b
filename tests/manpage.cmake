# Renders the manual page as man does, in a UTF-8 locale (terminal device utf8, input through
# preconv) and in the C locale (device ascii), and fails on any troff warning or on a menu name
# that comes out empty, as "帮助" once did.
#   cmake -DPAGE=velmir-rs232.1 -DGROFF=/usr/bin/groff -P manpage.cmake
set(utf8_names "工具(T)" "传输(X)" "视图(V)" "帮助")
set(ascii_names "Gongju(T)" "Chuanshu(X)" "Shitu(V)" "Bangzhu")
set(failed FALSE)
foreach(run "C.UTF-8;utf8" "zh_CN.UTF-8;utf8" "C;ascii")
    list(GET run 0 locale)
    list(GET run 1 device)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env LANG=${locale} LC_ALL=${locale}
                ${GROFF} -k -man -T${device} -ww -P-cbou ${PAGE}
        OUTPUT_VARIABLE shown
        ERROR_VARIABLE warnings
        RESULT_VARIABLE result)
    if(NOT result STREQUAL "0" OR NOT warnings STREQUAL "")
        message(SEND_ERROR "${locale}: groff ended with ${result}:\n${warnings}")
        set(failed TRUE)
    endif()
    foreach(name IN LISTS ${device}_names)
        string(FIND "${shown}" "\"${name}\"" quoted_ascii)
        string(FIND "${shown}" "“${name}”" quoted_utf8)
        if(quoted_ascii EQUAL -1 AND quoted_utf8 EQUAL -1)
            message(SEND_ERROR "${locale}: the menu ${name} is missing")
            set(failed TRUE)
        endif()
    endforeach()
    if(shown MATCHES "\"\"|“”")
        message(SEND_ERROR "${locale}: a name came out empty")
        set(failed TRUE)
    endif()
endforeach()
if(failed)
    message(FATAL_ERROR "the manual page does not render cleanly")
endif()
