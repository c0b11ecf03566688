// Configuration reader. Each call opens the configuration file, scans it from the start
// for one key and closes it again: every module reads its few keys once at creation, so
// there is no cache. The integer readers see the file as blank-separated words, the
// string readers as lines; all split a name from its value at "=" and take the first
// match. A carriage return left by a file edited on Windows is not part of any value.
#include "common/config_file.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

namespace
{

const config_syntax k_gateway_words = {true, CONFIG_SPLIT_EQUALS_RUNS};
const config_syntax k_gateway_lines = {false, CONFIG_SPLIT_EQUALS_RUNS};

// Reads the next white-space separated word, at most CONFIG_PIECE_SIZE - 1 characters.
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
        if (length == CONFIG_PIECE_SIZE - 1)
            break;
        c = fgetc(file);
    }
    word[length] = '\0';
    return true;
}

// Reads the next line, at most CONFIG_PIECE_SIZE - 1 characters, without its newline and
// a carriage return before it. False at the end of the file.
bool config_read_line(FILE *file, char *line)
{
    if (fgets(line, CONFIG_PIECE_SIZE, file) == nullptr)
        return false;
    size_t length = strlen(line);
    if (length > 0 && line[length - 1] == '\n')
        line[--length] = '\0';
    if (length > 0 && line[length - 1] == '\r')
        line[--length] = '\0';
    return true;
}

// The console's split: the name ends at the first "=", which must not lead.
config_split config_split_at_first_equals(char *text, bool whole_rest)
{
    config_split split = {nullptr, nullptr};
    if (*text == '\0' || *text == '=')
        return split;
    split.name = text;
    char *equals = strchr(text, '=');
    if (equals == nullptr)
        return split;
    *equals = '\0';
    char *value = equals + 1;
    if (!whole_rest)
        value[strcspn(value, "=")] = '\0';
    if (*value != '\0')
        split.value = value;
    return split;
}

config_split config_split_entry(char *text, config_split_rule rule)
{
    if (rule == CONFIG_SPLIT_EQUALS_RUNS)
        return config_split_at_equals(text);
    return config_split_at_first_equals(text, rule == CONFIG_SPLIT_WHOLE_REST);
}

} // namespace

ea_status config_file_find(const char *file_name, const char *key, const config_syntax *syntax,
                           char (&value)[CONFIG_PIECE_SIZE])
{
    if (file_name == nullptr)
        return EA_ERROR;
    FILE *file = fopen(file_name, "r");
    if (file == nullptr)
        return EA_ERROR;
    if (key == nullptr || syntax == nullptr)
    {
        fclose(file);
        return EA_NOT_FOUND;
    }

    char piece[CONFIG_PIECE_SIZE];
    ea_status result = EA_NOT_FOUND;
    while (syntax->words ? config_read_word(file, piece) : config_read_line(file, piece))
    {
        config_split split = config_split_entry(piece, syntax->split);
        if (split.name == nullptr || strcmp(split.name, key) != 0)
            continue;
        if (split.value != nullptr)
        {
            snprintf(value, sizeof value, "%s", split.value);
            result = EA_SUCCESS;
        }
        break;
    }
    fclose(file);
    return result;
}

int32_t config_leading_number(const char *text)
{
    long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

ea_status config_file_read_int(const char *file_name, const char *key, int32_t *value)
{
    char text[CONFIG_PIECE_SIZE];
    ea_status result = config_file_find(file_name, value != nullptr ? key : nullptr, &k_gateway_words, text);
    if (result == EA_SUCCESS)
        *value = config_leading_number(text);
    return result;
}

ea_status config_file_read_string(const char *file_name, const char *key, char *buffer, size_t buffer_size)
{
    char text[CONFIG_PIECE_SIZE];
    ea_status result = config_file_find(file_name, buffer != nullptr ? key : nullptr, &k_gateway_lines, text);
    if (result != EA_SUCCESS)
        return result;
    // A value that the cut leaves empty ("KEY= text") is as good as none: the caller
    // takes its default or refuses, instead of using an empty text.
    size_t length = strcspn(text, " \t");
    if (length == 0 || length >= buffer_size)
        return EA_NOT_FOUND;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return EA_SUCCESS;
}
