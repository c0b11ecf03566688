// Files rewritten through a temporary file beside them: the temporary file is created in
// the target's own folder (so the final rename never crosses file systems) with the
// target's permission bits and, where allowed, its owner, synced to disk before it
// replaces the target in one rename; the folder is synced after it, so the new name
// survives a power cut. A target that is a symbolic link is followed: the file it names
// is replaced and the link stays. Failures answer -1 (or null) with errno set (the C
// run-time's error number, which the callers put into their messages).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Creates and opens for writing a new, uniquely named file beside target_path, with the
// permission bits of the target (0644 when the target does not exist). Its path goes
// into temp_path (size bytes; the pattern tried on failure). Null on failure.
FILE *pf_temp_file_create_beside(const char *target_path, char *temp_path, size_t size);
// The same for a temporary file of a fixed name (created, or emptied when it is left over
// from an earlier write). Null on failure.
FILE *pf_temp_file_create_named(const char *target_path, const char *temp_path);
// Flushes the stream and the file's data to the disk, then closes it; 0 or -1 (closed
// in any case).
int pf_temp_file_close_synced(FILE *file);
// Renames the temporary file over the target in one step (the target's old contents stay
// whole until then); 0 or -1.
int pf_temp_file_replace(const char *temp_path, const char *target_path);
// Opens target_path for reading under an exclusive advisory lock (flock) that every
// rewriter of the file takes from its read to its rename, so that two rewrites never
// work on the same old contents. Waits at most wait_ms for a rewrite under way; since
// that rewrite replaces the file by a rename, a caller that waited on the old file locks
// the one that holds the name afterwards. The lock lasts until the stream is closed:
// keep it open until the replace is done. Null on failure with errno set (EWOULDBLOCK
// when the wait ran out).
FILE *pf_temp_file_open_locked(const char *target_path, uint32_t wait_ms);
