# The device compilation of the program, shared by the ARM check and the
# code-size benchmark. Sourced, not run.
ARM_PROGRAM_SOURCES=(
    app/winmain.cpp app/settings_dialog.cpp
    clock/speed_table.cpp clock/coprocessor.cpp clock/clock_registers.cpp clock/speed_change.cpp
    shell/notification.cpp shell/tray.cpp
    monitor/clock_monitor.cpp
)
ARM_FLAGS=(
    --target=armv5te-none-eabi -march=armv5te -marm -mfloat-abi=soft -fshort-wchar
    -std=c++98 -pedantic-errors -fno-exceptions -fno-rtti
    -Os -ffunction-sections -fdata-sections
    -Wall -Wextra -Werror
    -D_WIN32_WCE=0x300 -DUNDER_CE -DARM -D_ARM_
)
