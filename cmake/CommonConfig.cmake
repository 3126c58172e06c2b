# Every target links velmir_common, so warnings and Qt's safety switches are set in one place.
add_library(velmir_common INTERFACE)
target_compile_features(velmir_common INTERFACE cxx_std_20)
target_compile_definitions(velmir_common INTERFACE
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_CAST_FROM_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_USE_QSTRINGBUILDER
    # The version is written once, in the top CMakeLists.txt.
    VELMIR_VERSION="${PROJECT_VERSION}")
target_compile_options(velmir_common INTERFACE -Wall -Wextra)
if(VELMIR_WERROR)
    target_compile_options(velmir_common INTERFACE -Werror)
    target_compile_definitions(velmir_common INTERFACE _GLIBCXX_ASSERTIONS QT_FORCE_ASSERTS)
endif()
if(VELMIR_SANITIZE)
    target_compile_options(velmir_common INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(velmir_common INTERFACE -fsanitize=address,undefined)
endif()

# Adds the listed files of the calling folder to a target. A listed file that does not exist is
# an error, so a list never silently drifts from the folder.
function(velmir_sources target)
    foreach(file ${ARGN})
        if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${file})
            message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${file} is listed but does not exist")
        endif()
        target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${file})
    endforeach()
endfunction()
