// Shared pieces of the FIX front end: SessionID copies, the daily roll of the FIX engine's
// dated file logs, and the exact price conversion.
#include "gateway/fix_network_handle/fix_utility.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <strings.h>

#include "Mutex.h"
#include "Session.h"
#include "SessionState.h"
#include "Utility.h"
#include "common/ea_time.h"
#include "gateway/runtime/logger.h"

namespace
{
enum
{
    FIX_TEXT_BUFFER_SIZE = 2048,
    FIX_LOG_DATE_LENGTH = 8,
};
} // namespace

const std::string FIX_DUMMY_SENDER_COMP_ID = "000,000000,0";

std::string fixFieldNotFoundText(const FIX::FieldNotFound &missing)
{
    return "Field not found " + std::to_string(missing.field);
}

std::string fixInvalidValueText(int tag)
{
    char text[64];
    snprintf(text, sizeof(text), "Invalid value for field id %d", tag);
    return text;
}

std::string fixInvalidLengthText(int tag)
{
    char text[64];
    snprintf(text, sizeof(text), "Invalid Length for field id %d", tag);
    return text;
}

fixLoggerObject::~fixLoggerObject()
{
    if (session_id_array == nullptr)
        return;
    for (uint32_t i = 0; i < count; ++i)
        delete session_id_array[i];
    delete[] session_id_array;
}

void fixValidateLessUnsigned(uint32_t value, uint32_t bound, int tag)
{
    if (!(value < bound))
        throw LogException(fixInvalidValueText(tag));
}

// One SessionID text of 1 to 2047 characters, as the string-field copy into a 2048-byte
// buffer accepts it.
static const std::string &fixCheckedSessionText(const std::string &text, int tag)
{
    if (text.empty() || text.size() >= FIX_TEXT_BUFFER_SIZE)
        throw LogException(fixInvalidLengthText(tag));
    return text;
}

int32_t fixNwInfoGetCopyOfSessionId(const FIX::SessionID *source, FIX::SessionID **copy,
                                    logger_object *logger)
{
    if (source == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Source session id is NULL");
        return EA_VALID;
    }
    try
    {
        const std::string &begin = fixCheckedSessionText(source->getBeginString().getString(), 8);
        const std::string &sender = fixCheckedSessionText(source->getSenderCompID().getString(), 49);
        const std::string &target = fixCheckedSessionText(source->getTargetCompID().getString(), 56);
        const std::string &qualifier = source->getSessionQualifier();
        fixValidateLessUnsigned(static_cast<uint32_t>(qualifier.size()), FIX_TEXT_BUFFER_SIZE - 1, 0);
        *copy = new (std::nothrow) FIX::SessionID(begin, sender, target, qualifier);
        if (*copy == nullptr)
        {
            EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR,
                   "System Function new() returns NULL for creating new session id");
            return EA_ERROR;
        }
    }
    catch (LogException &e)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Found log exception [%s]", e.what());
        return EA_VALID;
    }
    catch (FIX::Exception &e)
    {
        EA_LOG(logger, EA_LEVEL_BUSINESS_ERROR, "Found exception [%s]", e.what());
        return EA_VALID;
    }
    return EA_SUCCESS;
}

std::string fixNwInfoGetCurrentDate()
{
    time_t now = time(nullptr);
    struct tm local;
    if (ea_localtime(&now, &local) == nullptr)
        return std::string();
    char date[16];
    if (strftime(date, sizeof(date), "%Y%m%d", &local) == 0)
        return std::string();
    return date;
}

void fixNwInfoSplitLogFileName(const std::string &name, std::string *prefix, std::string *date,
                               std::string *extension)
{
    const std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos)
        return;
    const std::string::size_type dateStart = dot >= FIX_LOG_DATE_LENGTH ? dot - FIX_LOG_DATE_LENGTH : 0;
    *prefix = name.substr(0, dateStart);
    *date = name.substr(dateStart, dot - dateStart);
    *extension = name.substr(dot);
}

FIX::Log *fixNwInfoGetSessionLog(FIX::Session *session)
{
    if (session == nullptr)
        return nullptr;
    FIX::SessionState *state = dynamic_cast<FIX::SessionState *>(session->getLog());
    return state != nullptr ? state->log() : nullptr;
}

// Moves one dated file onto today's name when its date lies before today.
static void fixRollOneLogFile(std::string *fileName, std::ofstream *stream, const std::string &today)
{
    std::string prefix;
    std::string date;
    std::string extension;
    fixNwInfoSplitLogFileName(*fileName, &prefix, &date, &extension);
    if (date.size() != FIX_LOG_DATE_LENGTH || strcasecmp(today.c_str(), date.c_str()) <= 0)
        return;
    *fileName = prefix + today + extension;
    stream->close();
    // The new day's file holds what clients send, passwords included: its owner's only.
    FIX::file_createPrivate(fileName->c_str());
    stream->open(fileName->c_str(), std::ios::out | std::ios::trunc);
}

void fixNwInfoLogReinitialize(FIX::Log *log)
{
    if (log == nullptr)
        return;
    const std::string today = fixNwInfoGetCurrentDate();
    if (today.empty())
        return;
    std::string *messagesName = log->getMessagesFileName();
    std::string *eventName = log->getEventFileName();
    std::ofstream *messages = log->getMessagesStream();
    std::ofstream *event = log->getEventStream();
    FIX::Mutex *mutex = log->getMutex();
    if (messagesName == nullptr || eventName == nullptr || messages == nullptr || event == nullptr ||
        mutex == nullptr)
        return;
    // The session thread may be writing to these streams: the file log's own lock.
    FIX::Locker locker(*mutex);
    fixRollOneLogFile(messagesName, messages, today);
    fixRollOneLogFile(eventName, event, today);
}

void fixNwInfoRemoveStoreFiles(const FIX::SessionID &sessionId)
{
    FIX::Session *session = FIX::Session::lookupSession(sessionId);
    if (session == nullptr)
        return;
    FIX::SessionState *state = dynamic_cast<FIX::SessionState *>(session->getLog());
    FIX::MessageStore *store = state != nullptr ? state->store() : nullptr;
    if (store == nullptr)
        return;
    std::vector<std::string *> *names = store->getFileNames();
    if (names == nullptr)
        return;
    std::vector<std::string> copies;
    for (const std::string *name : *names)
    {
        if (name != nullptr)
            copies.push_back(*name);
    }
    delete names;
    for (const std::string &name : copies)
        remove(name.c_str());
}

int32_t fixNwInfoLoggerObjectReinitialize(fixLoggerObject *object, logger_object *logger)
{
    logger_object_reopen(logger);
    if (object == nullptr)
        return EA_SUCCESS;
    for (uint32_t i = 0; i < object->count; ++i)
    {
        FIX::SessionID *copy = nullptr;
        const int32_t status = fixNwInfoGetCopyOfSessionId(object->session_id_array[i], &copy, logger);
        if (status == EA_ERROR)
        {
            EA_LOG(logger, EA_LEVEL_CONTINUATION, "fixNwInfoGetCopyOfSessionId failed");
            return EA_ERROR;
        }
        if (status != EA_SUCCESS)
            continue;
        fixNwInfoLogReinitialize(fixNwInfoGetSessionLog(FIX::Session::lookupSession(*copy)));
        delete copy;
    }
    return EA_SUCCESS;
}

// Digits of a decimal text without its '.', the fraction padded with '0' or cut to
// `decimals` places.
static std::string fixScaledDigits(const std::string &text, int decimals)
{
    const std::string::size_type dot = text.find('.');
    std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    fraction.resize(static_cast<size_t>(decimals), '0');
    return text.substr(0, dot) + fraction;
}

void fixNwInfoConvertDoubleToLong(double value, int64_t *out, int decimals, int64_t multiplier, int tag)
{
    char buffer[FIX_TEXT_BUFFER_SIZE];
    const int printed = snprintf(buffer, sizeof(buffer), "%.15g", value);
    if (printed < 0 || printed >= static_cast<int>(sizeof(buffer)))
        throw LogException(fixInvalidValueText(tag));
    std::string text(buffer);

    const std::string::size_type e = text.find_first_of("eE");
    if (e != std::string::npos)
    {
        if (e + 1 >= text.size())
            throw LogException(fixInvalidValueText(tag));
        const int exponent = atoi(text.c_str() + e + 1);
        text.erase(e);
        if (exponent >= 0)
            throw LogException(fixInvalidValueText(tag));
        if (exponent < -decimals)
        {
            *out = 0;
            return;
        }
        // Mantissa digits (a point without digits after it gives `decimals` zeros), then
        // `decimals` more zeros; the leading part that stands for whole units is kept.
        const std::string::size_type dot = text.find('.');
        std::string digits = text;
        if (dot != std::string::npos)
        {
            std::string fraction = text.substr(dot + 1);
            if (fraction.empty())
                fraction.assign(static_cast<size_t>(decimals), '0');
            digits = text.substr(0, dot) + fraction;
        }
        digits.append(static_cast<size_t>(decimals), '0');
        size_t keep = static_cast<size_t>(decimals + exponent + 1);
        if (!text.empty() && text[0] == '-')
            ++keep;
        *out = strtoll(digits.substr(0, keep).c_str(), nullptr, 10);
        return;
    }
    if (text.find('.') != std::string::npos)
    {
        *out = strtoll(fixScaledDigits(text, decimals).c_str(), nullptr, 10);
        return;
    }
    *out = strtoll(text.c_str(), nullptr, 10) * multiplier;
}
