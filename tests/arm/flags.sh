# The device compilation of the program, shared by the ARM check and the
# code-size benchmark. Sourced, not run.
#
# The program's sources, from the one list the CMake projects include
# (cmake/program_sources.cmake: one indented path per line).
program_sources_list="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/cmake/program_sources.cmake"
mapfile -t ARM_PROGRAM_SOURCES < <(sed -n \
    's/^[[:space:]]\{1,\}\([A-Za-z0-9_/.-]*\.cpp\)[[:space:]]*$/\1/p' "$program_sources_list")
if [ "${#ARM_PROGRAM_SOURCES[@]}" -eq 0 ]; then
    echo "no program sources in $program_sources_list" >&2
    exit 1
fi
ARM_FLAGS=(
    --target=armv5te-none-eabi -march=armv5te -marm -mfloat-abi=soft -fshort-wchar
    -std=c++98 -pedantic-errors -fno-exceptions -fno-rtti
    -Os -ffunction-sections -fdata-sections
    -Wall -Wextra -Werror
    -D_WIN32_WCE=0x300 -DUNDER_CE -DARM -D_ARM_
)
