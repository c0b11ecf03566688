// The registry of the installation: a text file standing in for the keys under
// HKEY_LOCAL_MACHINE that the console, the service and the tools read and write
// (SOFTWARE\QEL_IP, its market sub-keys 1 to 7 and COMMON).
//
// The file is named by the environment variable QEL_REGISTRY_FILE (default
// /var/lib/qel_ip/registry), so that every test and every installation has its own. It
// holds one section per key and one line per value, in the manner of an exported
// registry; comments (";" or "#") and blank lines are kept when the file is rewritten:
//
//     ; markets of this installation
//     [SOFTWARE\QEL_IP]
//     "SERVICESTATUS"=dword:00000000
//     [SOFTWARE\QEL_IP\2]
//     "path"="/opt/qel_ip/bin/qel_ip_tx"
//     "argument"="-c \"/opt/qel_ip/config/qel_ip tx.cfg\""
//
// Values are strings (quoted; "\\" and "\"" escaped) or 32-bit numbers (dword: and one
// to eight hexadecimal digits). Key and value names ignore case. A key exists when its
// section or a section below it stands in the file; sub-keys are enumerated in name order.
//
// Every call reads the file afresh. A change takes an exclusive lock on the file, builds
// the new text in a temporary file in the same folder and renames it over the old one,
// so readers never see half a file and two writers never lose each other's change. A
// malformed file is reported (1009, with the line in pf_reg_problem()) and never
// rewritten. Every call returns a Windows error number: 0 success, 2 key or value not
// found, 5 access denied, 234 buffer too small (the size needed is given back), 259 no
// more sub-keys, 1630 a value of another type; see platform/admin/pf_win32_codes.h.
#pragma once

#include <cstdint>

#include "platform/admin/pf_win32_codes.h"

enum : uint32_t
{
    PF_REG_SZ = 1,    // string
    PF_REG_DWORD = 4, // 32-bit number
};

struct pf_reg_key;

// The registry file this process uses.
const char *pf_registry_file();

// Opens an existing key below parent (null: the root, HKEY_LOCAL_MACHINE); sub_key is a
// path such as "SOFTWARE\\QEL_IP\\COMMON", or "" for parent itself. 2 when it does not
// exist, 161 when the path is not a valid key name.
uint32_t pf_reg_open_key(const pf_reg_key *parent, const char *sub_key, pf_reg_key **key_out);
// Opens the key, writing its section (and the file) first when it does not exist.
uint32_t pf_reg_create_key(const pf_reg_key *parent, const char *sub_key, pf_reg_key **key_out);
uint32_t pf_reg_close_key(pf_reg_key *key);
// The key's path from the root, as it was opened ("SOFTWARE\\QEL_IP\\2").
const char *pf_reg_key_path(const pf_reg_key *key);

// As RegQueryValueEx: the type, and the data (a string with its terminating zero, or four
// little-endian bytes) into data, whose size *size gives in and receives out. data may be
// null to learn the size; 234 when it is too small.
uint32_t pf_reg_query_value(const pf_reg_key *key, const char *name, uint32_t *type_out, void *data,
                            uint32_t *size);
// Typed reads: 1630 when the value has the other type, 234 when the string does not fit.
uint32_t pf_reg_query_string(const pf_reg_key *key, const char *name, char *buffer, uint32_t size);
uint32_t pf_reg_query_dword(const pf_reg_key *key, const char *name, uint32_t *value_out);

// Writes a value (replacing one of either type with that name). 87 for a string holding
// a line break or a name that is empty; 1018 when the key has gone meanwhile.
uint32_t pf_reg_set_string(const pf_reg_key *key, const char *name, const char *value);
uint32_t pf_reg_set_dword(const pf_reg_key *key, const char *name, uint32_t value);
// 2 when there is no such value.
uint32_t pf_reg_delete_value(const pf_reg_key *key, const char *name);

// As RegEnumKeyEx: the index-th direct sub-key's name, in name order (case ignored).
// *size gives the buffer's size in bytes and receives the name's length without its
// zero; 234 when it does not fit, 259 past the last sub-key.
uint32_t pf_reg_enum_key(const pf_reg_key *key, uint32_t index, char *name, uint32_t *size);

// What was wrong with the registry file at the last call of this thread that failed with
// 1009 or an input-output error: file, line number and reason, for the log.
const char *pf_reg_problem();
