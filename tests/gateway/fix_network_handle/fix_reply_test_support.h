// Helpers of the suites of reply conversion: records written field by field as hex at
// their layout offsets, a reply converted through the conversion with every field of the
// message it gives (body, repeating-group entries, the header fields the conversion
// sets), what a FIX client's engine says of the message with the client dictionary's
// validation on, and a host time zone far from the exchange's. C++14.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DataDictionary.h"
#include "Message.h"
#include "common/ea_status.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/runtime/message.h"

namespace fix_reply_test
{

typedef std::map<int, std::string> Fields;

// A record of `length` zero bytes written field by field as hex at layout offsets.
struct RecordBytes
{
    explicit RecordBytes(uint32_t length) : bytes(length, 0) {}
    RecordBytes &at(uint32_t offset, const std::string &hex)
    {
        for (size_t i = 0; i < hex.size();)
        {
            if (hex[i] == ' ')
            {
                ++i;
                continue;
            }
            bytes.at(offset++) = static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16));
            i += 2;
        }
        return *this;
    }
    // Characters as they stand, at an offset.
    RecordBytes &text(uint32_t offset, const std::string &characters)
    {
        for (char c : characters)
            bytes.at(offset++) = static_cast<uint8_t>(c);
        return *this;
    }
    std::vector<uint8_t> bytes;
};

struct Converted
{
    int32_t status = -1;
    std::unique_ptr<FIX::Message> fix;
    std::string type;
    Fields fields;              // body, plus header tags 370, 144 and 97 when present
    std::vector<Fields> groups; // the entries of the message's repeating group, in order
    std::string log;            // what the conversion logged
};

inline Converted convert(const RecordBytes &r, int16_t transcode, int16_t errorCode)
{
    message *m = message_create(static_cast<uint32_t>(r.bytes.size()), NORMAL_MESSAGE);
    memcpy(m->data, r.bytes.data(), r.bytes.size());
    m->workstation_index = 4;
    m->workstation_network_handle = 1;
    FIX::Message *out = nullptr;
    Converted c;
    testing::internal::CaptureStderr();
    c.status = fixReplyGetFixMessage(m, transcode, errorCode, &out, nullptr);
    c.log = testing::internal::GetCapturedStderr();
    message_destroy(m);
    c.fix.reset(out);
    if (out == nullptr)
        return c;
    c.type = out->getHeader().getField(35);
    for (FIX::FieldMap::const_iterator i = out->begin(); i != out->end(); ++i)
        c.fields[i->getTag()] = i->getString();
    for (int tag : {370, 144, 97})
        if (out->getHeader().isSetField(tag))
            c.fields[tag] = out->getHeader().getField(tag);
    for (FIX::FieldMap::g_const_iterator g = out->g_begin(); g != out->g_end(); ++g)
        for (const FIX::FieldMap *entry : g->second)
        {
            Fields fields;
            for (FIX::FieldMap::const_iterator i = entry->begin(); i != entry->end(); ++i)
                fields[i->getTag()] = i->getString();
            c.groups.push_back(fields);
        }
    return c;
}

// The base fields with changes applied; an empty value removes the field.
inline Fields changed(Fields fields, const Fields &changes)
{
    for (const auto &change : changes)
    {
        if (change.second.empty())
            fields.erase(change.first);
        else
            fields[change.first] = change.second;
    }
    return fields;
}

// What a FIX client's engine says of the message with the client dictionary's validation
// on, after the wire: an empty text when it takes it, the refusal otherwise.
inline std::string clientRefusal(const FIX::Message &converted)
{
    static const FIX::DataDictionary dictionary(std::string(QEL_FIX_DICTIONARY_DIR) +
                                                "/FIX42_qel_client.xml");
    FIX::Message sent(converted);
    FIX::Header &header = sent.getHeader();
    header.setField(FIX::SenderCompID("QEL"));
    header.setField(FIX::TargetCompID("1001,MEMBR,1"));
    header.setField(FIX::MsgSeqNum(2));
    header.setField(FIX::SendingTime(FIX::UtcTimeStamp(12, 0, 0, 9, 12, 2026)));
    try
    {
        FIX::Message received(sent.toString(), dictionary, true);
        FIX::DataDictionary::validate(received, &dictionary, &dictionary);
    }
    catch (FIX::Exception &e)
    {
        return std::string(e.what()) + " in " + sent.toString();
    }
    return "";
}

// The host keeps a zone far from UTC+05:30 for every test of a suite built on it.
class HostOutsideExchangeZone : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char *zone = getenv("TZ");
        hadZone = zone != nullptr;
        saved = hadZone ? zone : "";
        setenv("TZ", "America/New_York", 1);
        tzset();
    }
    void TearDown() override
    {
        if (hadZone)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string saved;
    bool hadZone = false;
};

} // namespace fix_reply_test
