// The mapping rows of the trimmed record families: for each family, which bytes of the
// trimmed host-link record correspond to which bytes of the full internal record. One
// table per family; the converters copy these rows in either direction and write the
// family's fixed values around them.
#pragma once

#include <cstdint>

struct trimmed_field_row
{
    uint16_t trimmed;
    uint16_t width;
    uint16_t full;
};

// The trade record fills some full fields twice on the way in; full_copy 0 = no copy.
struct trimmed_trade_row
{
    uint16_t trimmed;
    uint16_t width;
    uint16_t full;
    uint16_t full_copy;
};

enum : uint32_t
{
    ORDER_FULL_SIZE = 240,
    ORDER_ENTRY_TRIMMED_SIZE = 110,
    ORDER_CHANGE_TRIMMED_SIZE = 138,
    ORDER_REPLY_TRIMMED_SIZE = 156,
    TRADE_RECORD_FULL_SIZE = 209,
    TRADE_RECORD_TRIMMED_SIZE = 153,

    // Book type: the order families are trimmed only for book type 1.
    ORDER_FULL_BOOK_TYPE = 116,
    ORDER_ENTRY_TRIMMED_BOOK_TYPE = 48,
    ORDER_CHANGE_TRIMMED_BOOK_TYPE = 56,
    ORDER_BOOK_TYPE_TRIMMED = 1,

    // User id in the trimmed forms.
    ORDER_TRIMMED_USER_ID = 2,
    REPLY_TRIMMED_USER_ID = 6,

    // Fixed bytes of a full order record rebuilt from an order change or a reply.
    ORDER_FULL_FIXED_216 = 216,
    ORDER_FULL_FIXED_217 = 217,
    ORDER_FULL_FIXED_219 = 219,
    ORDER_FULL_BYTE_37 = 37,

    ORDER_CHANGE_TRIMMED_CHARS = 18,  // to the full header's two-character field
    ORDER_REPLY_TRIMMED_DIGIT = 20,   // its digit value to full byte 37
    ORDER_REPLY_TRIMMED_CHARS = 34,   // to the full header's two-character field
    TRADE_RECORD_TRIMMED_CHARS = 118, // its first two characters to the two-character field
};

constexpr trimmed_field_row ORDER_ENTRY_ROWS[] = {
    {2, 4, 0},    {6, 2, 48},    {8, 4, 54},   {12, 6, 58},   {18, 10, 64},  {28, 4, 74},  {32, 4, 78},
    {36, 2, 82},  {38, 10, 106}, {48, 2, 116}, {50, 2, 118},  {52, 4, 120},  {56, 4, 132}, {60, 4, 140},
    {64, 4, 148}, {68, 2, 164},  {70, 2, 166}, {72, 4, 168},  {76, 5, 172},  {81, 1, 201}, {82, 12, 202},
    {94, 2, 214}, {96, 1, 218},  {98, 4, 220}, {102, 4, 224}, {106, 4, 228},
};

constexpr trimmed_field_row ORDER_CHANGE_ROWS[] = {
    {2, 4, 0},     {6, 1, 46},    {8, 4, 54},    {12, 6, 58},   {18, 10, 64},  {28, 4, 74},   {32, 4, 78},
    {36, 2, 82},   {38, 4, 98},   {42, 4, 102},  {46, 10, 106}, {56, 2, 116},  {58, 2, 118},  {60, 4, 120},
    {64, 4, 124},  {68, 4, 128},  {72, 4, 132},  {76, 4, 136},  {80, 4, 140},  {84, 4, 148},  {88, 4, 152},
    {92, 4, 160},  {96, 2, 164},  {98, 2, 166},  {100, 4, 168}, {104, 5, 172}, {109, 1, 201}, {110, 12, 202},
    {122, 2, 214}, {124, 1, 218}, {126, 4, 220}, {130, 4, 224}, {134, 4, 228},
};

constexpr trimmed_field_row ORDER_REPLY_ROWS[] = {
    {2, 4, 4},     {6, 4, 0},     {10, 2, 12},   {12, 4, 22},   {16, 4, 26},   {21, 1, 46},    {22, 2, 48},
    {24, 4, 54},   {28, 6, 58},   {34, 10, 64},  {44, 4, 74},   {48, 4, 78},   {52, 2, 82},    {54, 1, 94},
    {56, 4, 98},   {60, 4, 102},  {64, 10, 106}, {74, 2, 116},  {76, 2, 118},  {78, 4, 120},   {82, 4, 124},
    {86, 4, 128},  {90, 4, 132},  {94, 4, 136},  {98, 4, 140},  {102, 4, 148}, {106, 4, 152},  {110, 4, 160},
    {114, 2, 164}, {116, 2, 166}, {118, 4, 168}, {122, 5, 172}, {127, 1, 201}, {128, 12, 202}, {140, 2, 214},
    {142, 1, 218}, {144, 4, 220}, {148, 4, 224}, {152, 4, 228},
};

constexpr trimmed_trade_row TRADE_RECORD_ROWS[] = {
    {2, 4, 4, 0},        {6, 4, 0, 54},      {10, 4, 14, 0},    {14, 4, 18, 0},     {18, 4, 22, 0},
    {22, 4, 26, 0},      {26, 4, 30, 0},     {30, 4, 34, 0},    {34, 4, 40, 118},   {38, 4, 44, 122},
    {42, 5, 48, 126},    {47, 1, 53, 208},   {48, 10, 58, 172}, {58, 2, 68, 0},     {60, 4, 70, 0},
    {64, 4, 74, 0},      {68, 4, 78, 0},     {72, 4, 82, 0},    {76, 4, 86, 0},     {80, 2, 90, 0},
    {82, 4, 92, 0},      {86, 4, 96, 0},     {90, 4, 100, 0},   {94, 4, 104, 0},    {98, 4, 108, 0},
    {102, 2, 112, 0},    {104, 4, 114, 0},   {108, 4, 132, 0},  {112, 6, 136, 0},   {118, 10, 142, 0},
    {128, 4, 152, 0},    {132, 4, 156, 0},   {136, 2, 160, 0},  {138, 1, 164, 165}, {139, 1, 166, 0},
    {140, 12, 182, 194}, {152, 1, 206, 207},
};
