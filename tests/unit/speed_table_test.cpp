// The speed settings: the tap cycle, bubble texts, turbo restore words and
// the clocks the three words give.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "clock/speed_table.h"

namespace {

std::u16string text(LPCWSTR s) {
    return std::u16string(s);
}

TEST(SpeedTable, NextSpeedModeCoversEveryCase) {
    struct Row {
        LONG allow100, current, next;
    };
    const Row rows[] = {
        {1, 0, 1},  {1, 1, 2},  {1, 2, 0},                 // cycle 100, 400, 498
        {0, 0, -1}, {0, 1, 2},  {0, 2, 1},                 // toggle 400, 498
        {1, 3, -1}, {0, 3, -1}, {1, -1, -1}, {0, -7, -1},  // no move from other values
        {5, 2, 0},                                         // any non-zero flag allows
    };
    for (const Row& r : rows) {
        EXPECT_EQ(NextSpeedMode(r.current, r.allow100), r.next)
            << "allow100 " << r.allow100 << ", current " << r.current;
    }
    EXPECT_EQ(SPEED_MODE_NONE, -1);
}

TEST(SpeedTable, TapCycleVisitsEachAllowedSettingOnce) {
    LONG mode = SPEED_MODE_400;
    std::string path;
    for (int i = 0; i < 3; ++i) {
        mode = NextSpeedMode(mode, 1);
        path += std::to_string(mode);
    }
    EXPECT_EQ(path, "201");
}

TEST(SpeedTable, BubbleTextNamesTheWordsSpeedOrSaysItIsUnknown) {
    EXPECT_EQ(text(BubbleTextFor(0x121)),
              u"<HTML><BODY><B><CENTER>Speed set to 100 MHz</CENTER></B></BODY></HTML>");
    EXPECT_EQ(text(BubbleTextFor(0x241)),
              u"<HTML><BODY><B><CENTER>Speed set to 400 MHz</CENTER></B></BODY></HTML>");
    EXPECT_EQ(text(BubbleTextFor(0x2C1)),
              u"<HTML><BODY><B><CENTER>Speed set to 498 MHz</CENTER></B></BODY></HTML>");
    const std::u16string unknown =
        u"<HTML><BODY>Frequency not recognized. Double tap icon to bring back Corvane "
        u"dialog.</BODY></HTML>";
    for (DWORD word : {0x0u, 0x141u, 0x1A1u, 0x2C0u, 0x10000241u, 0xFFFFFFFFu}) {
        EXPECT_EQ(text(BubbleTextFor(word)), unknown) << std::hex << word;
    }
}

TEST(SpeedTable, TurboRestoreWordOnlyForTheTurboSettings) {
    EXPECT_EQ(TurboRestoreWord(SPEED_MODE_400), 0x241u);
    EXPECT_EQ(TurboRestoreWord(SPEED_MODE_498), 0x2C1u);
    for (LONG mode : {SPEED_MODE_100, 3, -1, 1000}) {
        EXPECT_EQ(TurboRestoreWord(mode), CLOCK_CCCR_NONE) << mode;
    }
}

// The computed clocks (99.53, 398.13, 497.66 MHz) are what the labels name:
// each is nearest its own label of the three, within half a percent.
TEST(SpeedTable, ComputedClocksRoundToTheirLabels) {
    const double labels[] = {100, 400, 498};
    const DWORD expected_khz[] = {99533, 398131, 497664};
    for (int mode = 0; mode < SPEED_MODE_COUNT; ++mode) {
        const DWORD khz = CoreClockKhz(SPEED_SETTINGS[mode].cccrWord);
        EXPECT_EQ(khz, expected_khz[mode]);
        const double mhz = khz / 1000.0;
        int nearest = 0;
        for (int other = 1; other < 3; ++other) {
            if (std::fabs(mhz - labels[other]) < std::fabs(mhz - labels[nearest])) {
                nearest = other;
            }
        }
        EXPECT_EQ(nearest, mode);
        EXPECT_LT(std::fabs(mhz - labels[mode]) / labels[mode], 0.005);
    }
    EXPECT_EQ(CoreClockKhz(0x0), 0u);    // L code 0 is reserved
    EXPECT_EQ(CoreClockKhz(0x101), 0u);  // M code 0 is reserved
}

}  // namespace
