// Reads the gateway's binary logs back (see binary_log.h for the layout).
#include "support/binary_log.h"

#include <dirent.h>

#include <algorithm>

#include "support/test_support.h"

namespace qel_test
{

namespace
{
const size_t kFileHeader = 16;
const size_t kRecordHeader = 102;
const size_t kIndexAt = 78;
const size_t kHandleAt = 80;
const size_t kNetworkHeader = 22;
const size_t kUserIdAt = kNetworkHeader + 0;
const size_t kTranscodeAt = kNetworkHeader + 10;
const size_t kSignOnUserAt = kNetworkHeader + 40;

uint32_t le(const std::string &bytes, size_t at, size_t width)
{
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
    return value;
}

uint32_t be32(const std::vector<uint8_t> &bytes, size_t at)
{
    if (bytes.size() < at + 4)
        return 0;
    return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
           static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

std::vector<std::string> files_of(const std::string &folder, const std::string &prefix)
{
    std::vector<std::string> names;
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent *entry = readdir(dir))
    {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0 && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".dat") == 0)
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}
} // namespace

std::vector<binary_log_record> binary_log_records(const std::string &folder, const std::string &logger_name,
                                                  const std::string &kind, std::string *damage)
{
    std::vector<binary_log_record> records;
    for (const std::string &name : files_of(folder, logger_name + "_" + kind + "."))
    {
        const std::string bytes = read_file(folder + "/" + name);
        size_t at = kFileHeader;
        while (at + kRecordHeader <= bytes.size())
        {
            const size_t length = le(bytes, at, 2);
            if (length < kRecordHeader || at + length > bytes.size())
                break;
            binary_log_record record;
            record.workstation_index = static_cast<uint16_t>(le(bytes, at + kIndexAt, 2));
            record.workstation_handle = static_cast<int32_t>(le(bytes, at + kHandleAt, 4));
            record.data.assign(bytes.begin() + static_cast<long>(at + kRecordHeader),
                               bytes.begin() + static_cast<long>(at + length));
            records.push_back(record);
            at += length;
        }
        if (at != bytes.size() && bytes.size() > kFileHeader && damage != nullptr)
            *damage += name + " ends inside a record at byte " + std::to_string(at) + "; ";
    }
    return records;
}

int16_t frame_transcode(const binary_log_record &record)
{
    if (record.data.size() < kTranscodeAt + 2)
        return 0;
    return static_cast<int16_t>(record.data[kTranscodeAt] << 8 | record.data[kTranscodeAt + 1]);
}

uint32_t frame_user_id(const binary_log_record &record)
{
    return be32(record.data, kUserIdAt);
}

uint32_t frame_sign_on_user(const binary_log_record &record)
{
    return be32(record.data, kSignOnUserAt);
}

} // namespace qel_test
