// One input of the FIX-stream fuzzer: bytes as a FIX client's TCP stream, cut into
// messages by the engine's stream parser as the gateway's acceptor connection does, and
// each message read as its session reads it: length and checksum checked, fields parsed
// and validated against the dialect's acceptor dictionary. This is the road every byte a
// FIX client sends takes first, before any logon.
//
// What must hold whatever the bytes: no read outside the text, no undefined behaviour;
// the parser makes progress and every message it cuts out runs from "8=" to the end of
// its checksum field; a message the engine refuses is refused with one of its own
// exceptions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "DataDictionary.h"
#include "Message.h"
#include "Parser.h"

namespace fix_stream_fuzz
{
enum : size_t
{
    MAX_STREAM = 65536,
    MAX_MESSAGES = 4096,
};

inline const FIX::DataDictionary *acceptor_dictionary()
{
    static std::unique_ptr<FIX::DataDictionary> dictionary;
    if (!dictionary)
    {
        try
        {
            dictionary.reset(
                new FIX::DataDictionary(std::string(QEL_FIX_DICTIONARY_DIR) + "/FIX42_qel_acceptor.xml"));
        }
        catch (FIX::Exception &)
        {
            return nullptr;
        }
    }
    return dictionary.get();
}

inline bool whole_message(const std::string &text)
{
    if (text.compare(0, 2, "8=") != 0 || text.size() < 8 || text.back() != '\x01')
        return false;
    const std::string::size_type checksum = text.rfind("\x01"
                                                       "10=",
                                                       text.size() - 2);
    return checksum != std::string::npos && text.find('\x01', checksum + 1) == text.size() - 1;
}

inline const char *one(const uint8_t *data, size_t size)
{
    const FIX::DataDictionary *dictionary = acceptor_dictionary();
    if (dictionary == nullptr)
        return "no acceptor dictionary";
    if (size > MAX_STREAM)
        size = MAX_STREAM;
    FIX::Parser parser;
    parser.addToStream(reinterpret_cast<const char *>(data), size);
    for (size_t count = 0;; ++count)
    {
        if (count == MAX_MESSAGES)
            return "the stream parser stopped making progress";
        std::string text;
        try
        {
            if (!parser.readFixMessage(text))
                return nullptr;
        }
        catch (FIX::MessageParseError &)
        {
            return nullptr; // the connection is dropped
        }
        if (!whole_message(text))
            return "the stream parser cut out something other than a whole message";
        try
        {
            FIX::Message message(text, *dictionary, true);
            FIX::DataDictionary::validate(message, dictionary, dictionary);
            message.toString();
        }
        catch (FIX::Exception &)
        {
            // refused: the session answers or drops it
        }
    }
}
} // namespace fix_stream_fuzz
