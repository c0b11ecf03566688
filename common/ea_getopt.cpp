// The gateway's command-line option parser.
//
// Options start with "-" or "/" (the gateway was first run from a Windows prompt), letters
// may be grouped ("-vp"), and an option's argument may follow in the same word ("-cfile")
// or in the next one ("-c file"). The parser keeps its place in process-wide variables, as
// the C library's parser does, so `main` reads it the same way.
#include "common/ea_getopt.h"

#include <cstring>

namespace ea
{
int optind = 1;
char *optarg = nullptr;
int opterr = 1;
int optpos = 0;

namespace
{
const int END_OF_OPTIONS = -1;
const int UNKNOWN_OPTION = '?';
const int MISSING_ARGUMENT = ':';

// Moves on to the next letter of the current word, or to the next word after the last one.
void advance_in_word(const char *word)
{
    ++optpos;
    if (word[optpos] == '\0')
    {
        optpos = 0;
    }
}
} // namespace

int getopt(int argc, char *const argv[], const char *optstring)
{
    optarg = nullptr;
    if (argv == nullptr || optstring == nullptr || optind < 1)
    {
        optpos = 0;
        return END_OF_OPTIONS;
    }

    char *word;
    if (optpos > 0 && optind - 1 < argc && argv[optind - 1] != nullptr)
    {
        word = argv[optind - 1];
    }
    else
    {
        optpos = 0;
        if (optind >= argc || argv[optind] == nullptr)
        {
            return END_OF_OPTIONS;
        }
        word = argv[optind++];
        if (word[0] != '-' && word[0] != '/')
        {
            --optind;
            return END_OF_OPTIONS;
        }
        if (std::strcmp(word, "-") == 0 || std::strcmp(word, "--") == 0)
        {
            return END_OF_OPTIONS;
        }
        if (word[1] == '\0')
        {
            // A lone "/" names no option at all.
            return UNKNOWN_OPTION;
        }
        optpos = 1;
    }

    const char letter = word[optpos];
    if (letter == ':')
    {
        advance_in_word(word);
        return opterr ? UNKNOWN_OPTION : MISSING_ARGUMENT;
    }

    const char *entry = std::strchr(optstring, letter);
    if (entry == nullptr)
    {
        advance_in_word(word);
        return UNKNOWN_OPTION;
    }
    if (entry[1] != ':')
    {
        advance_in_word(word);
        return static_cast<unsigned char>(letter);
    }

    // The option takes an argument: the rest of this word, or else the whole next word.
    char *rest = word + optpos + 1;
    optpos = 0;
    if (*rest != '\0')
    {
        optarg = rest;
        return static_cast<unsigned char>(letter);
    }
    if (optind < argc && argv[optind] != nullptr)
    {
        optarg = argv[optind++];
        return static_cast<unsigned char>(letter);
    }
    return optstring[0] == ':' ? MISSING_ARGUMENT : UNKNOWN_OPTION;
}

void getopt_reset()
{
    optind = 1;
    optarg = nullptr;
    opterr = 1;
    optpos = 0;
}
} // namespace ea
