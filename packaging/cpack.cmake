# The Debian package (scripts/package runs CPack on a Release build):
# everything the install rules put into the tree, below /usr. Included by
# the top-level CMakeLists.txt after all install rules.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wavrell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Ostrel Data")
set(CPACK_PACKAGE_CONTACT "Ostrel Data <info@ostreldata.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compare two recordings by ear and by eye")
# The long description, wrapped for 80-column terminals; CPack indents
# every line and marks the empty ones as a control file wants.
set(CPACK_PACKAGE_DESCRIPTION [=[
Wavrell opens two recordings, for example a mix and its master, in WAV,
FLAC, Ogg Vorbis, Opus, MP3, AIFF, W64, RF64 or CAF files, and draws both
waveforms on one zoomable time axis. It shows each file's crest factor, RMS
level and peak level in dB relative to full scale, and bars of the
short-term crest factor of every channel at the play cursor. A file at
another sampling rate is converted on loading, and the second file is
aligned in time to the first.

Playback switches between the two files at the same sample position
without a gap, and level-matched, so that only the real difference is
heard. Wavrell can also play the error signal that level matching leaves
and draw the waveform after a 500 Hz allpass. The commands wavrell --levels
and wavrell --align print the levels and the time offset without opening a
window.

It plays through the PulseAudio client library, on PulseAudio and on
PipeWire's PulseAudio service.]=])
# Free software under the GNU GPL, version 3 or later: the licence's text
# for the generators that show one; the package carries the machine-readable
# copyright file (packaging/debian/copyright, installed with the documents),
# which points at the system's copy of the GPL as Debian wants.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/COPYING)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.ostreldata.example/wavrell/")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# The libraries come from dpkg-shlibdeps, which reads what the program and
# its private libraries link (Qt, the PulseAudio client library, libsndfile,
# libsoxr, FFTW and whatever else they link). Qt loads its platform plugins
# at run time, which dpkg-shlibdeps cannot see: without them no window
# opens. A sound server is needed to hear anything, but the window, --levels
# and --align work without one; xdg-open (xdg-utils) shows the manual and
# the web pages of the Help menu.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, xdg-utils")

# Installed below /usr through DESTDIR, so that the install rules can tell a
# staged install from one straight into a prefix (the MIME cache).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)

include(CPack)
