// Value checks of the FIX request handlers, and the split of a client's SenderCompID
// ("<trader id>,<member id>,<branch id>") into the exchange identity of the user.
// Each check returns when the value passes and otherwise throws LogException with
// "Invalid value for field id %d" (the FIX tag); the handler turns that into its answer.
// Every comparison is strict. Identifiers are read and checked at 64 bits and narrowed
// only afterwards, so that a value too wide for the exchange's field never slips through.
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>
#include <string>

#include "gateway/fix_network_handle/fix_utility.h"

enum : int
{
    FIX_CHECK_TEXT_SIZE = 2048,
};

// "Invalid value for field id <tag>".
LogException fixInvalidValueException(int tag);

void fixValidateEqual(int value, int expected, int tag);
void fixValidateEqual(int64_t value, int64_t expected, int tag);
void fixValidateGreater(int value, int low, int tag);
void fixValidateGreater(int64_t value, int64_t low, int tag);
void fixValidateLess(int value, int bound, int tag);
void fixValidateLess(int64_t value, int64_t bound, int tag);
void fixValidateLess(double value, double bound, int tag);
void fixValidateLess(double value, int bound, int tag);
void fixValidateRange(int value, int low, int high, int tag);
void fixValidateRange(double value, int low, int high, int tag);
void fixValidateRange(double value, double low, double high, int tag);

// A FIX identifier text (SecurityID, LegSecurityID, ClOrdID, PosReqID) read as atol reads
// it: leading blanks, a sign, the digits up to the first other character; no digits
// give 0. Out-of-range texts saturate at the 64-bit limits instead of being undefined.
int64_t fixTextToInt64(const char *text);
// The value as the exchange's 32-bit field, or LogException "Invalid value for field id
// <tag>" when it does not fit.
int32_t fixNarrowToInt32(int64_t value, int tag);

// SenderCompID split. The caller presets trader id and branch id to -1; member_id gets
// 1 to 5 characters without a terminator. Throws LogException "TraderID is Invalid",
// "BranchID is Invalid" or "MemberID is Invalid", tested in that order. A part the text
// does not reach keeps the preset value (so "12,,0" has no branch id).
void fixTokenizeSenderCompId(const std::string &sender_comp_id, int32_t *trader_id, char member_id[5],
                             int16_t *branch_id);
