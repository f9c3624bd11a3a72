# Run at install time: installs the systemd units (the single service and the instance template)
# with their program and data paths fitted to the installation prefix (the units as written are
# for the prefix /usr). PL_UNIT_SOURCES is set by the install rule that runs this script.
set(program_dir "${CMAKE_INSTALL_PREFIX}/lib/plserver")
# The server takes -INI= relative to its program directory.
file(RELATIVE_PATH state_from_program "${program_dir}" "/var/lib/plserver")
set(unit_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
file(MAKE_DIRECTORY "${unit_dir}")
foreach(source IN LISTS PL_UNIT_SOURCES)
  file(READ "${source}" unit)
  string(REPLACE "-INI=../../../var/lib/plserver/" "-INI=${state_from_program}/" unit "${unit}")
  string(REPLACE "/usr/lib/plserver/" "${program_dir}/" unit "${unit}")
  string(REPLACE "/usr/share/plserver/" "${CMAKE_INSTALL_PREFIX}/share/plserver/" unit "${unit}")
  get_filename_component(name "${source}" NAME)
  file(WRITE "${unit_dir}/${name}" "${unit}")
  message(STATUS "Installing: ${unit_dir}/${name}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${unit_dir}/${name}")
endforeach()
