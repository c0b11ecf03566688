// The console's seven markets in their fixed order (the market number is the position
// from 1), their names as tabs, titles and logs show them, the lower-case names of the
// gateway processes, and the process-wide flags that say which markets are FIX enabled
// (set by the main window from the registry, read by the FIX dialogs).
#pragma once

#include <cstdint>

enum : int32_t
{
    KOVA_MARKET_COUNT = 7,
    KOVA_NOT_INSTALLED = -1,       // the market type of a market without a registry key
    KOVA_COMMON_MARKET_ID = 100,   // the statistics records of the "Common" page
    KOVA_STATISTICS_PAGES_MAX = 8, // "Common" and one per market
};

// "KR" ... "JN" for 1 to 7; "" for any other number.
const char *KovaMarketName(int32_t market);
// "kr" ... "jn" for 1 to 7; "" for any other number.
const char *KovaMarketLowerName(int32_t market);

// Indexed by market number - 1; 1 when the market's FIX_CONFIG_FILE_PATH is present.
extern int32_t g_kova_fix_enabled[KOVA_MARKET_COUNT];
