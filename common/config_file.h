// Configuration reader: one integer or string value by key from a configuration file of
// "name=value" lines. Every call scans the file from the start. The gateway, the tools
// and the console all read through config_file_find; they differ only in how an entry
// is split (config_syntax), each as its users have always known it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ea_status.h"

enum
{
    CONFIG_PIECE_SIZE = 512, // a word or line of 511 characters; a longer one is read in pieces
};

// Where an entry's name ends and what its value is.
enum config_split_rule
{
    CONFIG_SPLIT_EQUALS_RUNS,  // the gateway's: a leading run of "=" is skipped, the name ends
                               // at the next "=", the value runs from the end of that run of
                               // "=" up to the next "="
    CONFIG_SPLIT_FIRST_EQUALS, // the console's integers: the name ends at the first "=" (a
                               // leading "=" means no name), the value runs up to the next "="
    CONFIG_SPLIT_WHOLE_REST,   // the console's strings: as above, the value is all the rest
};

// How a reader sees the file and splits its entries.
struct config_syntax
{
    bool words; // blank-separated words (integer readers), else lines
    config_split_rule split;
};

// A line or word split in place at "=" by the gateway's rule, for the tools that read a
// value as the gateway does.
struct config_split
{
    const char *name;  // null when the text has no name
    const char *value; // null when there is no value part
};
config_split config_split_at_equals(char *text);

// The first entry of key in the file as the syntax sees it: 0 with its value (not empty)
// copied into value, -1 (EA_NOT_FOUND) when the key is missing or has no value, 10000 when
// the file cannot be opened.
ea_status config_file_find(const char *file_name, const char *key, const config_syntax *syntax,
                           char (&value)[CONFIG_PIECE_SIZE]);

// The leading decimal number of text as the C library's string-to-integer conversion
// reads it (leading white space, a sign, the digits up to the first other character; no
// digits give 0), held inside 32 bits.
int32_t config_leading_number(const char *text);

// 0 and the value, -1 (EA_NOT_FOUND) when the key is missing or has no value,
// 10000 when the file cannot be opened. The string reader cuts the value at its first
// blank or tab; a value that the cut leaves empty counts as none, and so does one that
// is not shorter than buffer_size.
ea_status config_file_read_int(const char *file_name, const char *key, int32_t *value);
ea_status config_file_read_string(const char *file_name, const char *key, char *buffer, size_t buffer_size);
