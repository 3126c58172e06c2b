# Installs the program as a desktop application in the GNU layout (executable, desktop entry,
# AppStream metainfo, hicolor icons, user guide, manual page) and describes the Debian package that CPack
# builds from that installation. The tools that render the icons and the guide are optional:
# without them the scalable icon and the guide's Markdown source are installed instead, and
# there is no manual page.
include(GNUInstallDirs)

set(VELMIR_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VELMIR_ICON_SVG ${VELMIR_PACKAGING_DIR}/icons/velmir-rs232.svg)
# The help menu looks for the guide at ../share/doc/velmir-rs232/ beside the executable.
set(VELMIR_GUIDE_DIR ${CMAKE_INSTALL_DATADIR}/doc/velmir-rs232)

install(TARGETS velmir-rs232 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VELMIR_PACKAGING_DIR}/velmir-rs232.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VELMIR_PACKAGING_DIR}/io.github.velmir_rs232.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Icons: the SVG is the source; the bitmap sizes are rendered from it so that they never drift.
install(FILES ${VELMIR_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(VELMIR_RSVG_CONVERT rsvg-convert)
if(VELMIR_RSVG_CONVERT)
    set(icon_files)
    foreach(size 16 24 32 48 64 128 256)
        set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}/velmir-rs232.png)
        add_custom_command(
            OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}
            COMMAND ${VELMIR_RSVG_CONVERT} --width=${size} --height=${size} --format=png
                    --output=${png} ${VELMIR_ICON_SVG}
            DEPENDS ${VELMIR_ICON_SVG}
            COMMENT "Rendering the ${size}x${size} icon"
            VERBATIM)
        list(APPEND icon_files ${png})
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(velmir_icons ALL DEPENDS ${icon_files})
else()
    message(STATUS "rsvg-convert not found (package librsvg2-bin): installing the scalable icon only")
endif()

# User guide: HTML when pandoc is there, else the Markdown as written. The screenshots sit in
# images/ beside it in both cases, so the guide's relative links hold in the source tree too.
set(VELMIR_GUIDE_MD ${PROJECT_SOURCE_DIR}/docs/guide.md)
# The scripting reference the guide points to, as written.
install(FILES ${PROJECT_SOURCE_DIR}/docs/scripting.md DESTINATION ${VELMIR_GUIDE_DIR})
find_program(VELMIR_PANDOC pandoc)
if(VELMIR_PANDOC)
    set(guide_html ${CMAKE_CURRENT_BINARY_DIR}/doc/guide.html)
    add_custom_command(
        OUTPUT ${guide_html}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/doc
        # The guide's one top heading becomes the page title.
        COMMAND ${VELMIR_PANDOC} --from=gfm --to=html5 --standalone --shift-heading-level-by=-1
                --toc --toc-depth=2 --metadata=lang:zh-CN
                # Sized for the help window as much as for a browser.
                --variable=fontsize=11pt --variable=mainfont=sans-serif
                --variable=margin-left=1em --variable=margin-right=1em
                --variable=margin-top=1em --variable=margin-bottom=1em
                --output=${guide_html} ${VELMIR_GUIDE_MD}
        DEPENDS ${VELMIR_GUIDE_MD}
        COMMENT "Rendering the user guide"
        VERBATIM)
    # The pictures beside the rendered guide, so that a program run from the build folder
    # shows the guide as installed.
    set(guide_images ${CMAKE_CURRENT_BINARY_DIR}/doc/images.stamp)
    file(GLOB guide_pngs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/images/*.png)
    add_custom_command(
        OUTPUT ${guide_images}
        COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/docs/images
                ${CMAKE_CURRENT_BINARY_DIR}/doc/images
        COMMAND ${CMAKE_COMMAND} -E touch ${guide_images}
        DEPENDS ${guide_pngs}
        VERBATIM)
    add_custom_target(velmir_guide ALL DEPENDS ${guide_html} ${guide_images})
    install(FILES ${guide_html} DESTINATION ${VELMIR_GUIDE_DIR})

    # The manual page, man velmir-rs232.
    set(VELMIR_MAN_MD ${PROJECT_SOURCE_DIR}/docs/velmir-rs232.1.md)
    set(man_page ${CMAKE_CURRENT_BINARY_DIR}/velmir-rs232.1)
    add_custom_command(
        OUTPUT ${man_page}
        COMMAND ${VELMIR_PANDOC} --from=markdown --to=man --standalone --output=${man_page}
                ${VELMIR_MAN_MD}
        DEPENDS ${VELMIR_MAN_MD}
        COMMENT "Rendering the manual page"
        VERBATIM)
    add_custom_target(velmir_man ALL DEPENDS ${man_page})
    install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(STATUS "pandoc not found: installing the user guide as Markdown, no manual page")
    install(FILES ${VELMIR_GUIDE_MD} DESTINATION ${VELMIR_GUIDE_DIR})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION ${VELMIR_GUIDE_DIR}
        FILES_MATCHING PATTERN "*.png")

# Debian package: `cpack -G DEB` in a build folder configured with CMAKE_BUILD_TYPE=Release.
set(VELMIR_PACKAGE_MAINTAINER "velmir-rs232 maintainers <maintainers@velmir-rs232.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmir-rs232)
set(CPACK_PACKAGE_VENDOR "velmir-rs232")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test terminal for one RS-232 serial port")
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop test terminal for engineers who bring up and debug serial devices: modems,
controllers, embedded boards. Configure the port once, open it, type lines and watch what
comes back as text or hexadecimal byte codes; any byte value can be typed as an escape
such as <13>. DTR and RTS can be switched by hand and the modem lines are shown in a
status strip. Received bytes can be captured raw to a file, files can be sent, a message
can be repeated in a loop, a file can be shown as a hexadecimal dump, and the coloured
transcript can be saved and loaded as a rich-text workspace.

The user interface is in Chinese.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELMIR_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The windowing plugins and Qt's translations (its own buttons and dialogs in Chinese) are
# loaded at run time, so no library scan finds them.
find_program(VELMIR_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VELMIR_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6serialport6 (>= 6.4), libqt6network6 (>= 6.4), libqt6printsupport6 (>= 6.4), libqcustomplot2.1-qt6, qt6-qpa-plugins, qt6-translations-l10n, libc6, libstdc++6")
endif()
# CJK glyphs for the Chinese interface. The help menu shows the guide in a window of its own.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
include(CPack)
