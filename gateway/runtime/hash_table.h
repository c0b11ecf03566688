// A small string-keyed hash table with sorted chains; holds the link table's
// user-to-link mapping. Errors print through vperror when VPERROR_PRINT is set.
#pragma once

#include <cstdio>

struct hash_item
{
    char *key;
    const void *value;
    hash_item *next;
};

struct hash_table
{
    int debug;
    int own_values;
    int number_of_buckets;
    int non_empty_buckets;
    int longest_chain;
    hash_item **buckets;
};

typedef hash_table *HashTable;

int hashCreate(int requested_size, int debug, HashTable *table);
int hashAdd(HashTable table, const char *key, const void *value);
int hashDelete(HashTable table, const char *key);
int hashSearch(HashTable table, const char *key, void **value);
int hashDestroy(HashTable table);
int hashSetOwnValues(HashTable table);
int hashClearOwnValues(HashTable table);
int hashDump(FILE *stream, const char *heading, HashTable table);
int hashStatistics(FILE *stream, HashTable table);
char *strduplicate(const char *text);
int vperror(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Makes the next vperror call read "VPERROR_PRINT" again (tests only).
void vperror_reset_for_tests();
