// The inputs a fuzz target kept, read back for the replay in the normal test run. The
// replay tests call a target's entry on each; an entry aborts on a broken promise, so a
// replay prints the input's name first, and a failing run names the input that broke it.
// C++14, for the FIX suites.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct fuzz_corpus_input
{
    std::string name;
    std::vector<uint8_t> bytes;
};

// Every regular file of the folder, in name order; empty when the folder cannot be read.
inline std::vector<fuzz_corpus_input> fuzz_corpus_read(const std::string &folder)
{
    std::vector<fuzz_corpus_input> inputs;
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr)
        return inputs;
    while (const dirent *entry = readdir(dir))
    {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream in(folder + "/" + entry->d_name, std::ios::binary);
        if (!in)
            continue;
        fuzz_corpus_input input;
        input.name = entry->d_name;
        input.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        inputs.push_back(input);
    }
    closedir(dir);
    std::sort(inputs.begin(), inputs.end(),
              [](const fuzz_corpus_input &a, const fuzz_corpus_input &b) { return a.name < b.name; });
    return inputs;
}

// Replays each input through `entry`; the number replayed.
template <typename Entry> size_t fuzz_corpus_replay(const std::string &folder, Entry entry)
{
    std::vector<fuzz_corpus_input> inputs = fuzz_corpus_read(folder);
    for (const fuzz_corpus_input &input : inputs)
    {
        printf("replaying %s/%s\n", folder.c_str(), input.name.c_str());
        fflush(stdout);
        entry(input.bytes.data(), input.bytes.size());
    }
    return inputs.size();
}
