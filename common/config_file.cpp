// Configuration reader. Each call opens the configuration file, scans it from the start
// for one key and closes it again: every module reads its few keys once at creation, so
// there is no cache. The integer reader sees the file as blank-separated words, the
// string reader as lines; both split a name from its value at "=" and take the first
// match. A carriage return left by a file edited on Windows is not part of any value.
#include "common/config_file.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

enum
{
    CONFIG_WORD_SIZE = 512, // a longer word or line is read as several
};

// Reads the next white-space separated word, at most CONFIG_WORD_SIZE - 1 characters.
// False at the end of the file.
bool config_read_word(FILE *file, char *word)
{
    int c;
    do
    {
        c = fgetc(file);
    } while (c != EOF && isspace(c));
    if (c == EOF)
        return false;
    size_t length = 0;
    while (c != EOF && !isspace(c))
    {
        word[length++] = static_cast<char>(c);
        if (length == CONFIG_WORD_SIZE - 1)
            break;
        c = fgetc(file);
    }
    word[length] = '\0';
    return true;
}

// The C library's string-to-integer conversion, held inside 32 bits.
int32_t config_to_int(const char *text)
{
    long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

} // namespace

config_split config_split_at_equals(char *text)
{
    config_split split = {nullptr, nullptr};
    char *p = text;
    while (*p == '=')
        ++p;
    if (*p == '\0')
        return split;
    split.name = p;
    while (*p != '\0' && *p != '=')
        ++p;
    if (*p == '\0')
        return split;
    *p++ = '\0';
    while (*p == '=')
        ++p;
    if (*p == '\0')
        return split;
    split.value = p;
    while (*p != '\0' && *p != '=')
        ++p;
    *p = '\0';
    return split;
}

ea_status config_file_read_int(const char *file_name, const char *key, int32_t *value)
{
    if (file_name == nullptr)
        return EA_ERROR;
    FILE *file = fopen(file_name, "r");
    if (file == nullptr)
        return EA_ERROR;
    if (key == nullptr || value == nullptr)
    {
        fclose(file);
        return EA_NOT_FOUND;
    }

    char word[CONFIG_WORD_SIZE];
    ea_status result = EA_NOT_FOUND;
    while (config_read_word(file, word))
    {
        config_split split = config_split_at_equals(word);
        if (split.name == nullptr || strcmp(split.name, key) != 0)
            continue;
        if (split.value != nullptr)
        {
            *value = config_to_int(split.value);
            result = EA_SUCCESS;
        }
        break;
    }
    fclose(file);
    return result;
}

ea_status config_file_read_string(const char *file_name, const char *key, char *buffer, size_t buffer_size)
{
    if (file_name == nullptr)
        return EA_ERROR;
    FILE *file = fopen(file_name, "r");
    if (file == nullptr)
        return EA_ERROR;
    if (key == nullptr || buffer == nullptr)
    {
        fclose(file);
        return EA_NOT_FOUND;
    }

    char line[CONFIG_WORD_SIZE];
    ea_status result = EA_NOT_FOUND;
    while (fgets(line, sizeof line, file) != nullptr)
    {
        size_t length = strlen(line);
        if (length > 0 && line[length - 1] == '\n')
            line[--length] = '\0';
        if (length > 0 && line[length - 1] == '\r')
            line[--length] = '\0';
        config_split split = config_split_at_equals(line);
        if (split.name == nullptr || strcmp(split.name, key) != 0)
            continue;
        if (split.value != nullptr)
        {
            // A value that the cut leaves empty ("KEY= text") is as good as none: the
            // caller takes its default or refuses, instead of using an empty text.
            size_t value_length = strcspn(split.value, " \t");
            if (value_length > 0 && value_length < buffer_size)
            {
                memcpy(buffer, split.value, value_length);
                buffer[value_length] = '\0';
                result = EA_SUCCESS;
            }
        }
        break;
    }
    fclose(file);
    return result;
}
