# Installation layout (GNUInstallDirs) and the Debian package (CPack DEB).
#
#   cmake --install build [--prefix DIR]   the programs, icons, desktop entry, AppStream
#                                          metainfo, manual pages, shell completions
#   cd build && cpack -G DEB               kestrova-wav_<version>-<release>_<arch>.deb
#
# Included at the end of the top-level CMakeLists.txt, once every target exists.

include(GNUInstallDirs)

get_filename_component(KESTROVA_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(KESTROVA_DATA_DIR "${KESTROVA_SOURCE_ROOT}/data")

# --- Installed files -------------------------------------------------------------------

install(TARGETS kestrova-wav-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The M4B encoder module, loaded by the programs only when they write an M4B file.
install(TARGETS kestrova-mp4 kestrova-pdf LIBRARY DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/kestrova-wav)
install(FILES "${KESTROVA_DATA_DIR}/man/kestrova-wav-cli.1"
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Shell completions, printed by the program itself from its option declarations, where
# bash-completion, zsh and fish look for them.
set(_kestrova_completions "${CMAKE_BINARY_DIR}/completions")
set(_kestrova_completion_files "${_kestrova_completions}/kestrova-wav-cli"
    "${_kestrova_completions}/_kestrova-wav-cli" "${_kestrova_completions}/kestrova-wav-cli.fish")
add_custom_command(
    OUTPUT ${_kestrova_completion_files}
    COMMAND "${CMAKE_COMMAND}" -DPROGRAM=$<TARGET_FILE:kestrova-wav-cli>
            "-DFOLDER=${_kestrova_completions}" -P "${KESTROVA_DATA_DIR}/completions.cmake"
    DEPENDS kestrova-wav-cli "${KESTROVA_DATA_DIR}/completions.cmake"
    COMMENT "Shell completions of kestrova-wav-cli"
    VERBATIM)
add_custom_target(kestrova-completions ALL DEPENDS ${_kestrova_completion_files})
install(FILES "${_kestrova_completions}/kestrova-wav-cli"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES "${_kestrova_completions}/_kestrova-wav-cli"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES "${_kestrova_completions}/kestrova-wav-cli.fish"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

# The window program may be left out (KESTROVA_BUILD_GUI=OFF); its desktop entry, icons
# and manual page go with it.
if(TARGET kestrova-wav)
    install(TARGETS kestrova-wav RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES "${KESTROVA_DATA_DIR}/man/kestrova-wav.1"
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES "${KESTROVA_DATA_DIR}/applications/kestrova-wav.desktop"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES "${KESTROVA_DATA_DIR}/metainfo/org.kestrova.KestrovaWav.metainfo.xml"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    # The lightning bolt in the hicolor theme: PNGs rendered once from the window's SVGs
    # (16 px from the small drawing, 32 and 48 px from the large one), and the SVG itself.
    foreach(size 16 32 48)
        install(FILES "${KESTROVA_DATA_DIR}/icons/kestrova-wav-${size}.png"
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME kestrova-wav.png)
    endforeach()
    install(FILES "${KESTROVA_SOURCE_ROOT}/src/ui/icons/lightning-bolt.svg"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
            RENAME kestrova-wav.svg)
endif()

install(FILES "${KESTROVA_DATA_DIR}/debian/copyright" DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- Debian package --------------------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrova-wav)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kestrova Developers")
set(CPACK_PACKAGE_CONTACT "Kestrova Developers <dev@kestrova.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts text files into spoken-audio wave files")
# The long description, in lines of at most 80 characters (CPack indents each one).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "kestrova-wav is the companion program of the Kestrova Text-to-Speech Reader:"
    "started by the reader with a voice name and a text file, it asks where the"
    "wave file goes, renders the text with an eSpeak NG or Flite voice and deletes"
    "the reader's text file once the wave file is created."
    "kestrova-wav-cli renders text files from the command line for scripts and"
    "batch work, into wave, FLAC, Ogg Vorbis, Opus or MP3 files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# CPack installs the default component by name, so that its staging install writes
# install_manifest_Unspecified.txt and leaves build/install_manifest.txt, the record of a
# real `cmake --install` that an uninstall reads, alone.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrova Developers <dev@kestrova.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# What dpkg-shlibdeps cannot see: data and plugins loaded at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "espeak-ng-data")
if(TARGET kestrova-wav)
    # The SVG image plugin (the window's icons) and the platform plugins (xcb, wayland).
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6svg6, qt6-qpa-plugins")
endif()

# After CPack has installed into its staging tree: gzip the manual pages, add the Debian
# changelog (both gzip -9n, as Debian policy asks) and the lintian overrides, and drop the
# .comment and .note sections that a plain strip leaves in the programs.
set(CPACK_PRE_BUILD_SCRIPTS "${KESTROVA_DATA_DIR}/debian/prepare-package.cmake")
set(CPACK_KESTROVA_CHANGELOG "${KESTROVA_DATA_DIR}/debian/changelog")
set(CPACK_KESTROVA_LINTIAN_OVERRIDES "${KESTROVA_DATA_DIR}/debian/lintian-overrides")
set(CPACK_KESTROVA_DOCDIR "${CMAKE_INSTALL_DOCDIR}")
set(CPACK_KESTROVA_BINDIR "${CMAKE_INSTALL_BINDIR}")
set(CPACK_KESTROVA_STRIP "${CMAKE_STRIP}")

# The changelog's newest entry has to name the version being packaged.
file(STRINGS "${CPACK_KESTROVA_CHANGELOG}" _kestrova_changelog_top LIMIT_COUNT 1)
set(_kestrova_deb_version "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
if(NOT _kestrova_changelog_top MATCHES "^kestrova-wav \\(${_kestrova_deb_version}\\) ")
    message(WARNING "data/debian/changelog does not start with version ${_kestrova_deb_version}: "
                    "add an entry for it before building the package")
endif()

# `cpack --config CPackSourceConfig.cmake`: the sources, without build trees or Git data.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "\\.deb$")

include(CPack)

# --- Test of the installed tree --------------------------------------------------------

if(KESTROVA_BUILD_TESTS)
    if(TARGET kestrova-wav)
        set(_kestrova_expect_gui 1)
    else()
        set(_kestrova_expect_gui 0)
    endif()
    add_test(NAME install
             COMMAND bash "${KESTROVA_SOURCE_ROOT}/tests/install/check-install.sh"
                     "${CMAKE_BINARY_DIR}")
    set_tests_properties(install PROPERTIES
                         ENVIRONMENT "KESTROVA_EXPECT_GUI=${_kestrova_expect_gui}"
                         TIMEOUT 300)
endif()
