// Quantities of a FIX request have no sign (fuzz findings): a negative MaxFloor or CumQty
// is refused with the field's reject instead of reaching the exchange as a negative
// disclosed or filled volume; zero stays a valid MaxFloor. The requests go through the
// handlers' own check and conversion, without a session around them.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "fix42/NewOrderSingle.h"
#include "fix42/OrderCancelReplaceRequest.h"
#include "gateway/fix_network_handle/fix_order_requests.h"
#include "gateway/fix_network_handle/fix_session_info_container.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/wire.h"

namespace
{
typedef std::map<int, std::string> Fields;

const Fields NEW_ORDER = {{48, "35001"},   {21, "1"},      {55, "ZORAX"}, {460, "7"}, {167, "FUT"},
                          {200, "202612"}, {205, "31"},    {204, "1"},    {54, "1"},  {38, "50"},
                          {40, "2"},       {44, "123.45"}, {376, "1234"}, {11, "7"}};
const Fields MODIFY = {{48, "35001"},   {55, "ZORAX"},
                       {460, "7"},      {167, "FUT"},
                       {200, "202612"}, {205, "31"},
                       {204, "1"},      {54, "1"},
                       {14, "20"},      {38, "50"},
                       {40, "2"},       {44, "123.45"},
                       {59, "0"},       {6000, "20261209-04:15:30"},
                       {37, "98765"},   {376, "1234"},
                       {11, "9"}};

struct Outcome
{
    bool built = false;
    int reason = -2;
    std::string text;
    int32_t disclosed = -1;
    int32_t filled = -1;
};

Outcome convert(FixOrderRequestKind kind, const Fields &base, const Fields &changes)
{
    ea_flag flags[5][2] = {};
    FixSessionInfoContainer container(1, 2, flags[0], flags[1], flags[2], flags[3], flags[4], nullptr);
    container.slots[0].fix_nw_handle = 1;
    container.slots[0].link_index = 0;
    container.slots[0].user_id = 35001;
    FIX::Message request;
    Fields fields = base;
    for (const auto &change : changes)
        fields[change.first] = change.second;
    for (const auto &field : fields)
        request.setField(field.first, field.second);
    message *record = message_create(vrx_order_layout::RECORD_LENGTH, NORMAL_MESSAGE);
    Outcome o;
    o.built =
        fixOrderRequestBuild(kind, &container, 0, "14:30:00", request, record, &o.reason, &o.text, nullptr);
    o.disclosed = get_i32_be(record->data, vrx_order_layout::DISCLOSED_VOLUME);
    o.filled = get_i32_be(record->data, vrx_order_layout::FILLED_VOLUME);
    message_destroy(record);
    return o;
}
} // namespace

TEST(FixOrderQuantitySign, NegativeMaxFloorIsRefusedWithTheFieldsReject)
{
    for (FixOrderRequestKind kind : {FIX_ORDER_REQUEST_NEW, FIX_ORDER_REQUEST_MODIFY})
    {
        const Fields &base = kind == FIX_ORDER_REQUEST_NEW ? NEW_ORDER : MODIFY;
        for (const char *value : {"-025", "-0.5", "-999999998"})
        {
            Outcome o = convert(kind, base, {{111, value}});
            EXPECT_FALSE(o.built) << value;
            EXPECT_EQ(o.reason, 0) << value;
            EXPECT_EQ(o.text, "Invalid value for field id 111") << value;
        }
        Outcome zero = convert(kind, base, {{111, "0"}});
        EXPECT_TRUE(zero.built) << zero.text;
        EXPECT_EQ(zero.disclosed, 0);
        Outcome some = convert(kind, base, {{111, "25"}});
        EXPECT_TRUE(some.built) << some.text;
        EXPECT_EQ(some.disclosed, 25);
    }
}

TEST(FixOrderQuantitySign, NegativeCumQtyOfAModificationIsRefusedWithTheFieldsReject)
{
    Outcome o = convert(FIX_ORDER_REQUEST_MODIFY, MODIFY, {{14, "-5"}});
    EXPECT_FALSE(o.built);
    EXPECT_EQ(o.reason, 0);
    EXPECT_EQ(o.text, "Invalid value for field id 14");
    Outcome none = convert(FIX_ORDER_REQUEST_MODIFY, MODIFY, {{14, "0"}});
    EXPECT_TRUE(none.built) << none.text;
    EXPECT_EQ(none.filled, 0);
}
