// The market table; entry 0 is empty so that the market number indexes it.
#include "console/kova_markets.h"

namespace
{
const char *const k_names[KOVA_MARKET_COUNT + 1] = {"", "KR", "TX", "ZBL", "GUV", "HY", "RAQE", "JN"};
const char *const k_lower_names[KOVA_MARKET_COUNT + 1] = {"", "kr", "tx", "zbl", "guv", "hy", "raqe", "jn"};
} // namespace

int32_t g_kova_fix_enabled[KOVA_MARKET_COUNT] = {};

const char *KovaMarketName(int32_t market)
{
    return market >= 1 && market <= KOVA_MARKET_COUNT ? k_names[market] : k_names[0];
}

const char *KovaMarketLowerName(int32_t market)
{
    return market >= 1 && market <= KOVA_MARKET_COUNT ? k_lower_names[market] : k_lower_names[0];
}
