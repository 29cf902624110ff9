// The decimal separator follows the user's regional settings, also when they change while
// the program runs.
#include "TestSupport.h"

#include "framework/FormatSettings.h"

#include <string>

namespace {

// Sets the user's decimal separator and announces the change as the system does.
void AnnounceSeparator(const char* separator) {
    ASSERT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator));
    SendMessageA(Application().Handle(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("intl"));
}

TEST(FormatSettings, SeparatorFollowsTheRegionalSettings) {
    char original[8] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, original, sizeof original);
    AnnounceSeparator(",");
    EXPECT_EQ(DecimalSeparator(), ',');
    // A separator longer than one character is not used.
    AnnounceSeparator("::");
    EXPECT_EQ(DecimalSeparator(), '.');
    AnnounceSeparator("'");
    EXPECT_EQ(DecimalSeparator(), '\'');
    AnnounceSeparator(original);
    EXPECT_EQ(std::string(1, DecimalSeparator()),
              std::string(original).size() == 1 ? original : ".");
}

} // namespace
