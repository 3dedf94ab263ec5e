# The program's resources, as the host build and the device build both
# make them: the icons that mkicon draws from their description, then the
# resource script compiled by llvm-rc into corvane.res.
#
#   corvane_resources(ROOT OUT)   ROOT: the checkout; OUT: where to write.
#
# Needs the mkicon target and LLVM_RC; sets CORVANE_RES (the .res file) in
# the caller's scope.
function(corvane_resources root out)
  set(icon_dir ${out}/icons)
  # The icon files are named once, in the description (its "icon" lines);
  # mkicon also writes icons.rc, the resource script's lines for them.
  set(description ${root}/resources/icons/icons.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${description})
  file(STRINGS ${description} icon_lines REGEX "^icon ")
  set(icon_files ${icon_dir}/icons.rc)
  foreach(line IN LISTS icon_lines)
    string(REGEX REPLACE "^icon +[^ ]+ +([^ ]+).*$" "\\1" file "${line}")
    list(APPEND icon_files ${icon_dir}/${file})
  endforeach()
  add_custom_command(
    OUTPUT ${icon_files}
    COMMAND mkicon ${description} ${icon_dir}
    DEPENDS mkicon ${description}
    COMMENT "Drawing the icons")
  set(res ${out}/corvane.res)
  add_custom_command(
    OUTPUT ${res}
    # llvm-rc reads any argument that starts with '/' as a possible option, so
    # a source tree under, say, /check would have its script taken for /C; the
    # '--' ends the options.
    COMMAND ${LLVM_RC} /I ${icon_dir} /I ${root}/resources /FO ${res} -- ${root}/resources/corvane.rc
    DEPENDS ${root}/resources/corvane.rc ${root}/resources/resource.h ${icon_files}
    COMMENT "Compiling corvane.rc")
  set(CORVANE_RES ${res} PARENT_SCOPE)
endfunction()
