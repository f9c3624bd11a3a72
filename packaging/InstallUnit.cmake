# Run at install time: installs the systemd unit with its program and data paths fitted to the
# installation prefix (the unit as written is for the prefix /usr). PL_UNIT_SOURCE is set by
# the install rule that runs this script.
set(program_dir "${CMAKE_INSTALL_PREFIX}/lib/plserver")
# The server takes -INI= relative to its program directory.
file(RELATIVE_PATH ini_from_program "${program_dir}" "/var/lib/plserver/plserver.ini")
file(READ "${PL_UNIT_SOURCE}" unit)
string(REPLACE "-INI=../../../var/lib/plserver/plserver.ini" "-INI=${ini_from_program}" unit "${unit}")
string(REPLACE "/usr/lib/plserver/" "${program_dir}/" unit "${unit}")
string(REPLACE "/usr/share/plserver/" "${CMAKE_INSTALL_PREFIX}/share/plserver/" unit "${unit}")
set(unit_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
file(MAKE_DIRECTORY "${unit_dir}")
file(WRITE "${unit_dir}/plserver.service" "${unit}")
message(STATUS "Installing: ${unit_dir}/plserver.service")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${unit_dir}/plserver.service")
