# The Debian package, made by CPack from the install rules above:
# tools/build-deb.sh runs it. dpkg-shlibdeps finds the libraries' packages;
# the GStreamer plugins the capture pipelines load at run time are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vistrel maintainers <maintainers@users.noreply.c-seed-fc3c0640.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# v4l2src and jpegdec (good); videotestsrc, videoconvert, videoscale, decodebin, appsink (base).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
# clockoverlay, the test pattern's clock (x); the H.264 encoders for MP4 recordings, x264enc
# (ugly) or openh264enc (bad). Without them the pattern runs and AVI is recorded.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-x, gstreamer1.0-plugins-ugly, gstreamer1.0-plugins-bad")
# Decoders for network cameras that send H.264 and the like (libav; bad is recommended above).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gstreamer1.0-libav")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop recorder for one video camera")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Vistrel watches a room or a door with one camera. It shows the live
picture, measures motion, stamps the date and time into the picture and
records Motion-JPEG AVI files always, on motion or in a daily time window.
It takes BMP or JPEG photos, serves the latest picture to any web browser
over its own small HTTP server, and hides and shows its window with a
global hot key.")
# cpack installs what is built; it need not build the tests and benchmarks first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
