# The Debian package: `cpack -G DEB` in the build folder makes
# relay-panel_<version>_<arch>.deb of everything the install rules place under /usr.
set(CPACK_PACKAGE_NAME relay-panel)
set(CPACK_PACKAGE_VENDOR "Relay Panel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Relay Panel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for a 16-relay board on a serial port")
set(CPACK_PACKAGE_DESCRIPTION
    "Shows the 16 relays of a board on a serial port as indicators that a 50 ms poll
keeps current, switches them one by one or all at once, and keeps a display
name for every relay of every address. Includes relayctl, which does the same
from scripts with reliable exit statuses; relay_board_sim, a virtual board on
a pseudo-terminal for trying the panel without hardware; and relayboard-mqtt,
which makes the relays of the boards on a serial line topics on an MQTT
broker, with Home Assistant discovery and a systemd service per line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries it needs, as dpkg-shlibdeps works them out from the programs (libmosquitto1
# among them), and adduser for the bridge's system user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
# The bridge needs a broker, on this machine or another: suggested, never installed with the
# panel.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mosquitto, mosquitto-clients")

# The bridge's service, one instance per serial line, and a commented configuration with
# every key; the maintainer scripts make and remove the service's user.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/systemd/relayboard-mqtt@.service
        DESTINATION lib/systemd/system)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/relayboard-mqtt.conf.example
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/relay-panel/examples
        RENAME relayboard-mqtt.conf)
# The settings files of the programs' state folder, each as a commented example.
foreach(example rules.conf lines.conf events.conf)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/${example}.example
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/relay-panel/examples RENAME ${example})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_GENERATOR DEB)
include(CPack)
