# The program's sources, relative to the checkout: the one list that the
# host build (CMakeLists.txt), the device build (platform/wince) and the ARM
# check (tests/arm/flags.sh, which reads this file) all use.
#
# Keep one source per line, indented, with nothing else on the line: the
# ARM check's shell script reads the list by that shape.
set(CORVANE_PROGRAM_SOURCES
  app/winmain.cpp
  app/settings_dialog.cpp
  clock/speed_table.cpp
  clock/coprocessor.cpp
  clock/clock_registers.cpp
  clock/speed_change.cpp
  shell/notification.cpp
  shell/tray.cpp
  monitor/clock_monitor.cpp
)
