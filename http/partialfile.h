// The partial file of a resumable download: appended to where the stored bytes
// end, emptied when the download starts over, read back, and copied over the
// destination once complete.
#pragma once
#include <cstdint>
#include <string>

// Appends `count` bytes right after the first `stored` bytes of the file
// (created when missing; anything after those bytes is cut off first). A file
// shorter than `stored` was changed behind the download's back and is not
// continued (13). 0 or the error code, logged.
int32_t AppendToPartialFile(const std::wstring& path, uint64_t stored, const char* data, uint32_t count);
// Empties the file (creating it when missing).
void EmptyPartialFile(const std::wstring& path);
// Copies the file over `destination` through a staging file beside it, which
// then replaces the destination in one step: a failed copy leaves the old
// destination whole, and two downloads delivering the same destination never
// write into each other's copy. 0 or the error code (nothing logged).
int32_t CopyPartialFileOver(const std::wstring& path, const std::wstring& destination);
