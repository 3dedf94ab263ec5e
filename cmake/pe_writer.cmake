# The PE writer of tools/pe as a library, corvane_pe_writer: mkpe writes
# corvane.exe with it in the device build, and the tests and the fuzzers'
# seeds write their images with it in the host build.
#
#   corvane_pe_writer(ROOT PARSERS)   ROOT: the checkout; PARSERS: the
#                                     library with the simulator's parsers
#
# It reads resources and export lists with the simulator's parsers
# (simulator/pe, simulator/support), so that an image is written from what
# the simulator reads: the host build passes its simulator library, the
# device build, which has no simulator, a library of those parsers alone.
function(corvane_pe_writer root parsers)
  add_library(corvane_pe_writer STATIC
    ${root}/tools/pe/bytes.cpp
    ${root}/tools/pe/elf.cpp
    ${root}/tools/pe/imports.cpp
    ${root}/tools/pe/rsrc.cpp
    ${root}/tools/pe/image.cpp
    ${root}/tools/pe/pe_writer.cpp
    ${root}/tools/pe/symbol_map.cpp)
  target_include_directories(corvane_pe_writer PUBLIC ${root})
  target_link_libraries(corvane_pe_writer PUBLIC ${parsers})
endfunction()
