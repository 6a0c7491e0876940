# Installed layout and the Debian package.
#
#   bin/lingchuan-converter, bin/lingchuan-cli
#   share/lingchuan-converter/sounds/ring001.wav, share/lingchuan-converter/docs/help.html
#   share/applications/lingchuan-converter.desktop
#   share/icons/hicolor/<N>x<N>/apps/lingchuan-converter.png, .../scalable/apps/...svg
#
# The window looks for its files in ../share/lingchuan-converter/ relative to its own folder, so
# bin/ and share/ are fixed here rather than taken from GNUInstallDirs.

install(TARGETS lingchuan-cli RUNTIME DESTINATION bin)

if(NOT TARGET lingchuan-converter)
  return()
endif()

set(LC_INSTALL_DATA share/lingchuan-converter)
install(TARGETS lingchuan-converter RUNTIME DESTINATION bin)
install(FILES sounds/ring001.wav DESTINATION ${LC_INSTALL_DATA}/sounds)
install(FILES docs/help.html DESTINATION ${LC_INSTALL_DATA}/docs)
install(FILES resources/desktop/lingchuan-converter.desktop DESTINATION share/applications)
foreach(size 16 32 48 64 128 256)
  install(FILES resources/icons/lingchuan-converter-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps
          RENAME lingchuan-converter.png)
endforeach()
install(FILES resources/icons/lingchuan-converter.svg DESTINATION share/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lingchuan-converter)
set(CPACK_PACKAGE_VENDOR "Lingchuan")
set(CPACK_PACKAGE_CONTACT "Lingchuan Dev <dev@lingchuan.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch converter for video and audio files")
set(CPACK_PACKAGE_DESCRIPTION
    "凌川安卓手机格式转换器 converts video and audio files in batches into formats for phones, \
tablets, media players and computers: 123 output formats in 11 categories, with adjustable \
frame size, bit rates, aspect, frame rate and sample rate, several conversions at once, a \
preview player with snapshots, and a command-line converter, lingchuan-cli, over the same \
formats.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds what the programs link, with the versions the build saw. The loader also
# opens FFmpeg libraries and SDL by their sonames, which no link step names, so the packages of
# that set are named here from the majors the build was made for.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(LC_RUNTIME_PACKAGES)
foreach(lib avcodec avformat avutil avfilter avdevice swscale swresample)
  string(REGEX MATCH "^[0-9]+" major "${FFMPEG_lib${lib}_VERSION}")
  list(APPEND LC_RUNTIME_PACKAGES lib${lib}${major})
endforeach()
list(APPEND LC_RUNTIME_PACKAGES libsdl2-2.0-0 libopencore-amrnb0 libgif7)
list(JOIN LC_RUNTIME_PACKAGES ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# The Chinese interface needs a font with CJK glyphs; a Wayland session runs fine through X.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
set(CPACK_STRIP_FILES ON)
include(CPack)
