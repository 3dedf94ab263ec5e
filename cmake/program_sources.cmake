# The program's sources, relative to the checkout: the one list that the
# host build and the ARM lane (CMakeLists.txt) and the device build
# (platform/wince, which makes corvane.exe) all use.
set(CORVANE_PROGRAM_SOURCES
  app/winmain.cpp
  app/settings_dialog.cpp
  app/dialog_commands.cpp
  clock/speed_table.cpp
  clock/coprocessor.cpp
  clock/processor.cpp
  clock/clock_registers.cpp
  clock/speed_change.cpp
  shell/notification.cpp
  shell/tray.cpp
  monitor/clock_monitor.cpp
)
