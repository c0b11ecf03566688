// The command-line option parser: each case is one command line and the expected calls.
#include "common/ea_getopt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
struct Step
{
    int result;
    const char *argument; // nullptr: no argument expected
};

struct Case
{
    const char *name;
    std::vector<const char *> words; // after the program name
    int opterr;
    std::vector<Step> steps; // calls in order; the last returns -1
    int optind_after;
};

void run(const Case &c)
{
    ea::getopt_reset();
    ea::opterr = c.opterr;
    std::vector<std::string> storage{"qel_ip"};
    for (const char *word : c.words)
    {
        storage.emplace_back(word);
    }
    std::vector<char *> argv;
    for (std::string &word : storage)
    {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    for (size_t i = 0; i < c.steps.size(); ++i)
    {
        const Step &step = c.steps[i];
        const int result = ea::getopt(argc, argv.data(), ":vpc:");
        EXPECT_EQ(result, step.result) << c.name << ", call " << i;
        if (step.argument == nullptr)
        {
            EXPECT_EQ(ea::optarg, nullptr) << c.name << ", call " << i;
        }
        else
        {
            ASSERT_NE(ea::optarg, nullptr) << c.name << ", call " << i;
            EXPECT_STREQ(ea::optarg, step.argument) << c.name << ", call " << i;
        }
    }
    EXPECT_EQ(ea::optind, c.optind_after) << c.name;
}

TEST(Getopt, CommandLines)
{
    const Case cases[] = {
        {"no words", {}, 1, {{-1, nullptr}}, 1},
        {"last word -c", {"-c"}, 1, {{':', nullptr}, {-1, nullptr}}, 2},
        {"unknown letter", {"-x"}, 1, {{'?', nullptr}, {-1, nullptr}}, 2},
        {"argument in the word", {"-cfile"}, 1, {{'c', "file"}, {-1, nullptr}}, 2},
        {"argument in the next word", {"-c", "file"}, 1, {{'c', "file"}, {-1, nullptr}}, 3},
        {"next word taken even with a dash", {"-c", "-v"}, 1, {{'c', "-v"}, {-1, nullptr}}, 3},
        {"grouped letters", {"-vp"}, 1, {{'v', nullptr}, {'p', nullptr}, {-1, nullptr}}, 2},
        {"group ending in an option with argument",
         {"-vcfile", "-p"},
         1,
         {{'v', nullptr}, {'c', "file"}, {'p', nullptr}, {-1, nullptr}},
         3},
        {"unknown letter inside a group",
         {"-vxp"},
         1,
         {{'v', nullptr}, {'?', nullptr}, {'p', nullptr}, {-1, nullptr}},
         2},
        {"lone dash ends and is consumed", {"-", "-v"}, 1, {{-1, nullptr}}, 2},
        {"double dash ends and is consumed", {"--", "-v"}, 1, {{-1, nullptr}}, 2},
        {"plain word stops and stays", {"file", "-v"}, 1, {{-1, nullptr}}, 1},
        {"plain word after options", {"-v", "file"}, 1, {{'v', nullptr}, {-1, nullptr}, {-1, nullptr}}, 2},
        {"slash options", {"/v", "/cfile"}, 1, {{'v', nullptr}, {'c', "file"}, {-1, nullptr}}, 3},
        {"colon with error report on", {"-:"}, 1, {{'?', nullptr}, {-1, nullptr}}, 2},
        {"colon with error report off", {"-:"}, 0, {{':', nullptr}, {-1, nullptr}}, 2},
        {"lone slash names nothing", {"/"}, 1, {{'?', nullptr}, {-1, nullptr}}, 2},
    };
    for (const Case &c : cases)
    {
        run(c);
    }
}

TEST(Getopt, MissingArgumentIsQuestionMarkWithoutLeadingColon)
{
    ea::getopt_reset();
    char program[] = "qel_ip";
    char option[] = "-c";
    char *argv[] = {program, option, nullptr};
    EXPECT_EQ(ea::getopt(2, argv, "vpc:"), '?');
    EXPECT_EQ(ea::optarg, nullptr);
}

TEST(Getopt, ResetStartsOver)
{
    char program[] = "qel_ip";
    char option[] = "-vp";
    char *argv[] = {program, option, nullptr};
    ea::getopt_reset();
    EXPECT_EQ(ea::getopt(2, argv, ":vpc:"), 'v');
    ea::opterr = 0;
    ea::getopt_reset();
    EXPECT_EQ(ea::optind, 1);
    EXPECT_EQ(ea::optpos, 0);
    EXPECT_EQ(ea::opterr, 1);
    EXPECT_EQ(ea::getopt(2, argv, ":vpc:"), 'v');
    EXPECT_EQ(ea::getopt(2, argv, ":vpc:"), 'p');
}
} // namespace
