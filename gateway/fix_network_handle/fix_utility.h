// Small pieces shared by the whole FIX front end: the gateway's exception LogException,
// the owned copy of a SessionID that the FIX side keeps instead of the engine's reference,
// the record of configured sessions whose FIX logs roll at the change of day, the roll
// itself (run on the engine's acceptor thread through its hooks), the exact conversion of
// a FIX price to integer hundredths, and the SenderCompID of the engine's dummy session.
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>
#include <string>

#include "Exceptions.h"
#include "Log.h"
#include "SessionID.h"

struct logger_object;
namespace FIX
{
class Session;
}

// Every validator and constructor of the FIX side throws this. Its type text is the one
// text it is built from and its detail is empty, so what() is exactly that text.
class LogException : public FIX::Exception
{
  public:
    explicit LogException(const std::string &text) : FIX::Exception(text, "") {}
};

// SenderCompID that the engine gives its dummy session when the FIX settings name none.
// TraderID 0 can never log on, so no client can take this session.
extern const std::string FIX_DUMMY_SENDER_COMP_ID;

// The SessionID copies of the sessions created from the FIX settings, for the daily roll
// of their logs. Filled before the acceptor thread starts, read only afterwards.
struct fixLoggerObject
{
    fixLoggerObject() : session_id_array(nullptr), count(0) {}
    ~fixLoggerObject();
    fixLoggerObject(const fixLoggerObject &) = delete;
    fixLoggerObject &operator=(const fixLoggerObject &) = delete;

    FIX::SessionID **session_id_array;
    uint32_t count;
};

// A new heap copy of *source in *copy (the caller deletes it): 0, 203 for a source that is
// null or whose texts do not fit, 10000 when memory runs out.
int32_t fixNwInfoGetCopyOfSessionId(const FIX::SessionID *source, FIX::SessionID **copy,
                                    logger_object *logger);

// Today's local date as "%Y%m%d"; empty when the local time cannot be read.
std::string fixNwInfoGetCurrentDate();

// Splits "<prefix><8-character date><.extension>" at the last '.'; a name without a '.'
// leaves the outputs as they are.
void fixNwInfoSplitLogFileName(const std::string &name, std::string *prefix, std::string *date,
                               std::string *extension);

// The engine session's own log (not the session state that wraps it); null for a null session.
FIX::Log *fixNwInfoGetSessionLog(FIX::Session *session);

// Rolls a file log whose files are dated before today onto today's files. Anything that
// is not a file log is left alone.
void fixNwInfoLogReinitialize(FIX::Log *log);

// Removes the message store files of a session from disk (nothing in the gateway calls it;
// an operator's tool may). A memory store has no files. The store object stays with its
// session: deleting it would leave the session holding a freed store.
void fixNwInfoRemoveStoreFiles(const FIX::SessionID &sessionId);

// The acceptor thread's day-change hook: reopens the gateway logger's files and rolls the
// log of every configured session. 0, or 10000 when a SessionID cannot be copied.
int32_t fixNwInfoLoggerObjectReinitialize(fixLoggerObject *object, logger_object *logger);

// A FIX price as an integer count of 10^-decimals units, truncated towards zero, computed
// through its decimal text so that 12.345 never becomes 1234.4999... Throws LogException
// "Invalid value for field id %d" with the tag for values of 10^15 and above.
void fixNwInfoConvertDoubleToLong(double value, int64_t *out, int decimals, int64_t multiplier, int tag);

// Throws LogException "Invalid value for field id %d" unless value < bound.
void fixValidateLessUnsigned(uint32_t value, uint32_t bound, int tag);

// "Field not found " and the tag of the missing field, the text the clients are sent.
std::string fixFieldNotFoundText(const FIX::FieldNotFound &missing);

// "Invalid value for field id %d" / "Invalid Length for field id %d" with the tag.
std::string fixInvalidValueText(int tag);
std::string fixInvalidLengthText(int tag);
