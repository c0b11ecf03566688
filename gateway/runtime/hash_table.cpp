// A small string-keyed hash table with sorted chains.
//
// The link table keeps its user-to-link mapping here. Each chain is kept in ascending key
// order so a search can stop at the first larger key. Errors are printed through vperror,
// which stays silent unless the environment variable "VPERROR_PRINT" asks for output, and
// every function returns the runtime's error number on failure.
#include "gateway/runtime/hash_table.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{
// -1: not read yet; 0: silent; 1: print.
std::atomic<int> vperror_print{-1};

bool is_prime(int number)
{
    if (number < 4)
    {
        return true;
    }
    if (number % 2 == 0)
    {
        return false;
    }
    for (int divisor = 3; divisor <= number / divisor; divisor += 2)
    {
        if (number % divisor == 0)
        {
            return false;
        }
    }
    return true;
}

// Sum of the key's 4-byte groups, each read big-endian (a short last group uses only its
// own bytes), modulo the number of buckets.
int hash_key(const char *key, int number_of_buckets)
{
    if (number_of_buckets <= 0)
    {
        return 0;
    }
    uint32_t sum = 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(key);
    while (*p != '\0')
    {
        uint32_t group = 0;
        for (int i = 0; i < 4 && *p != '\0'; ++i, ++p)
        {
            group = (group << 8) | *p;
        }
        sum += group;
    }
    return static_cast<int>(sum % static_cast<uint32_t>(number_of_buckets));
}

void free_value(const void *value)
{
    // The table's own values were allocated by its users and handed over as const pointers.
    std::free(const_cast<void *>(value));
}

int not_created(const char *function)
{
    errno = EINVAL;
    vperror("(%s) Hash table not created yet.\n", function);
    return errno;
}

int null_key(const char *function)
{
    errno = EINVAL;
    vperror("(%s) Null key.\n", function);
    return errno;
}
} // namespace

void vperror_reset_for_tests()
{
    vperror_print.store(-1);
}

int vperror(const char *format, ...)
{
    const int saved_errno = errno;

    int print = vperror_print.load();
    if (print < 0)
    {
        const char *setting = std::getenv("VPERROR_PRINT");
        print = (setting != nullptr && std::strtol(setting, nullptr, 0) != 0) ? 1 : 0;
        vperror_print.store(print);
    }

    if (print == 1 && format != nullptr)
    {
        va_list arguments;
        va_start(arguments, format);
        std::vfprintf(stderr, format, arguments);
        va_end(arguments);
        std::fprintf(stderr, "%s\n", saved_errno < 0 ? "invalid ERRNO code" : std::strerror(saved_errno));
    }

    errno = saved_errno;
    return 0;
}

char *strduplicate(const char *text)
{
    if (text == nullptr)
    {
        return nullptr;
    }
    const size_t size = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(size));
    if (copy == nullptr)
    {
        vperror("In strduplicate(), memory allocation failed.\n");
        return nullptr;
    }
    std::memcpy(copy, text, size);
    return copy;
}

int hashCreate(int requested_size, int debug, HashTable *table)
{
    if (table == nullptr)
    {
        errno = EINVAL;
        return errno;
    }
    *table = nullptr;

    // A negative size would make a negative bucket count; such a request gets one bucket.
    int size = requested_size < 0 ? 0 : requested_size;
    if (size % 2 == 0)
    {
        ++size;
    }
    while (!is_prime(size))
    {
        size += 2;
    }

    hash_table *created = static_cast<hash_table *>(std::calloc(1, sizeof(hash_table)));
    hash_item **buckets =
        static_cast<hash_item **>(std::calloc(static_cast<size_t>(size), sizeof(hash_item *)));
    if (created == nullptr || buckets == nullptr)
    {
        std::free(created);
        std::free(buckets);
        errno = ENOMEM;
        vperror("(hashCreate) Error allocating table of %d elements.\nmalloc: ", size);
        return errno;
    }
    created->debug = debug;
    created->own_values = 0;
    created->number_of_buckets = size;
    created->non_empty_buckets = 0;
    created->longest_chain = 0;
    created->buckets = buckets;

    if (debug)
    {
        std::printf("(hashCreate) Created hash table %p of %d elements.\n", static_cast<void *>(created),
                    size);
    }
    *table = created;
    return 0;
}

int hashAdd(HashTable table, const char *key, const void *value)
{
    if (table == nullptr)
    {
        return not_created("hashAdd");
    }
    if (key == nullptr)
    {
        return null_key("hashAdd");
    }

    const int index = hash_key(key, table->number_of_buckets);
    hash_item **link = &table->buckets[index];
    while (*link != nullptr && std::strcmp((*link)->key, key) < 0)
    {
        link = &(*link)->next;
    }

    if (*link != nullptr && std::strcmp((*link)->key, key) == 0)
    {
        hash_item *item = *link;
        if (table->own_values && item->value != value)
        {
            free_value(item->value);
        }
        item->value = value;
        if (table->debug)
        {
            std::printf("(hashAdd) Replaced \"%s\":%p (%p) in table %p[%d].\n", key, value,
                        static_cast<void *>(item), static_cast<void *>(table), index);
        }
        return 0;
    }

    hash_item *item = static_cast<hash_item *>(std::malloc(sizeof(hash_item)));
    if (item == nullptr)
    {
        vperror("(hashAdd) Error allocating item for \"%s\":%p.\nmalloc: ", key, value);
        return errno;
    }
    item->key = strduplicate(key);
    if (item->key == nullptr)
    {
        vperror("(hashAdd) Error duplicating key \"%s\".\nstrdup: ", key);
        std::free(item);
        return errno;
    }
    item->value = value;

    const bool bucket_was_empty = table->buckets[index] == nullptr;
    item->next = *link;
    *link = item;

    if (bucket_was_empty)
    {
        ++table->non_empty_buckets;
    }
    int chain_length = 0;
    for (const hash_item *walk = table->buckets[index]; walk != nullptr; walk = walk->next)
    {
        ++chain_length;
    }
    if (chain_length > table->longest_chain)
    {
        table->longest_chain = chain_length;
    }

    if (table->debug)
    {
        std::printf("(hashAdd) Added \"%s\":%p (%p) to table %p[%d].\n", key, value,
                    static_cast<void *>(item), static_cast<void *>(table), index);
    }
    return 0;
}

int hashDelete(HashTable table, const char *key)
{
    if (table == nullptr)
    {
        return not_created("hashDelete");
    }
    if (key == nullptr)
    {
        return null_key("hashDelete");
    }

    hash_item **link = &table->buckets[hash_key(key, table->number_of_buckets)];
    while (*link != nullptr && std::strcmp((*link)->key, key) < 0)
    {
        link = &(*link)->next;
    }
    if (*link == nullptr || std::strcmp((*link)->key, key) != 0)
    {
        if (table->debug)
        {
            std::printf("(hashDelete) Key \"%s\" not found in table %p.\n", key, static_cast<void *>(table));
        }
        return -2;
    }

    hash_item *item = *link;
    *link = item->next;
    if (table->debug)
    {
        std::printf("(hashDelete) Deleted \"%s\":%p from table %p.\n", key, item->value,
                    static_cast<void *>(table));
    }
    if (table->own_values)
    {
        free_value(item->value);
    }
    std::free(item->key);
    std::free(item);
    return 0;
}

int hashSearch(HashTable table, const char *key, void **value)
{
    if (value != nullptr)
    {
        *value = nullptr;
    }
    // A missing table or key finds nothing: the result is a truth value, so no error number.
    if (table == nullptr)
    {
        not_created("hashSearch");
        return 0;
    }
    if (key == nullptr)
    {
        null_key("hashSearch");
        return 0;
    }

    const hash_item *item = table->buckets[hash_key(key, table->number_of_buckets)];
    while (item != nullptr && std::strcmp(item->key, key) < 0)
    {
        item = item->next;
    }
    if (item != nullptr && std::strcmp(item->key, key) == 0)
    {
        if (value != nullptr)
        {
            *value = const_cast<void *>(item->value);
        }
        if (table->debug)
        {
            std::printf("(hashSearch) \"%s\":%p found in table %p.\n", key, item->value,
                        static_cast<void *>(table));
        }
        return -1;
    }
    if (table->debug)
    {
        std::printf("(hashSearch) Key \"%s\" not found in table %p.\n", key, static_cast<void *>(table));
    }
    return 0;
}

int hashDestroy(HashTable table)
{
    if (table == nullptr)
    {
        return 0;
    }
    if (table->debug)
    {
        std::printf("(hashDestroy) Deleting hash table %p.\n", static_cast<void *>(table));
    }
    for (int index = 0; index < table->number_of_buckets; ++index)
    {
        hash_item *item = table->buckets[index];
        while (item != nullptr)
        {
            hash_item *next = item->next;
            if (table->own_values)
            {
                free_value(item->value);
            }
            std::free(item->key);
            std::free(item);
            item = next;
        }
    }
    std::free(table->buckets);
    std::free(table);
    return 0;
}

int hashSetOwnValues(HashTable table)
{
    if (table == nullptr)
    {
        return not_created("hashSetOwnValues");
    }
    table->own_values = 1;
    return 0;
}

int hashClearOwnValues(HashTable table)
{
    if (table == nullptr)
    {
        return not_created("hashClearOwnValues");
    }
    table->own_values = 0;
    return 0;
}

int hashDump(FILE *stream, const char *heading, HashTable table)
{
    if (stream == nullptr)
    {
        errno = EINVAL;
        return errno;
    }
    if (heading != nullptr)
    {
        std::fputs(heading, stream);
    }
    if (table == nullptr)
    {
        std::fprintf(stream, "-- Null Hash Table --\n");
        return 0;
    }
    for (int index = 0; index < table->number_of_buckets; ++index)
    {
        const hash_item *item = table->buckets[index];
        if (item == nullptr)
        {
            continue;
        }
        std::fprintf(stream, "Bucket %d:\n", index);
        for (; item != nullptr; item = item->next)
        {
            std::fprintf(stream, "    Value: %p    Key: \"%s\"\n", item->value, item->key);
        }
    }
    return 0;
}

int hashStatistics(FILE *stream, HashTable table)
{
    if (stream == nullptr)
    {
        errno = EINVAL;
        return errno;
    }
    if (table == nullptr)
    {
        std::fprintf(stream, "-- Null Hash Table --\n");
        return 0;
    }

    // Measured from the chains as they are now: the table's own counters are never
    // lowered by a deletion.
    int non_empty = 0;
    int longest = 0;
    for (int index = 0; index < table->number_of_buckets; ++index)
    {
        int length = 0;
        for (const hash_item *item = table->buckets[index]; item != nullptr; item = item->next)
        {
            ++length;
        }
        if (length > 0)
        {
            ++non_empty;
        }
        if (length > longest)
        {
            longest = length;
        }
    }

    int *histogram = static_cast<int *>(std::calloc(static_cast<size_t>(longest) + 1, sizeof(int)));
    if (histogram == nullptr)
    {
        vperror("(hashStatistics) Error allocating memory for histogram.\nmalloc: ");
        return errno;
    }
    double sum = 0.0;
    double sum_of_squares = 0.0;
    for (int index = 0; index < table->number_of_buckets; ++index)
    {
        int length = 0;
        for (const hash_item *item = table->buckets[index]; item != nullptr; item = item->next)
        {
            ++length;
        }
        ++histogram[length];
        sum += length;
        sum_of_squares += static_cast<double>(length) * length;
    }

    std::fprintf(stream,
                 "There are %d empty buckets, %d non-empty buckets,\nand %d items in the longest chain.\n\n",
                 table->number_of_buckets - non_empty, non_empty, longest);
    for (int length = 1; length <= longest; ++length)
    {
        std::fprintf(stream, "Buckets of length %d: %d\n", length, histogram[length]);
    }
    std::free(histogram);

    // An empty table, or one with a single non-empty bucket, would divide by zero.
    const double n = non_empty;
    const double mean = non_empty > 0 ? sum / n : 0.0;
    double deviation = 0.0;
    if (non_empty > 1)
    {
        const double variance = (n * sum_of_squares - sum * sum) / (n * (n - 1.0));
        deviation = variance > 0.0 ? std::sqrt(variance) : 0.0;
    }
    std::fprintf(stream, "\nMean bucket length = %G\n", mean);
    std::fprintf(stream, "\nStandard deviation = %G\n", deviation);
    return 0;
}
