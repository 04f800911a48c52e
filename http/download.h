// The plain download: the answer of one GET is written to a temporary file
// named after the calling thread, checked against Content-Length, decompressed
// when it came gzip-encoded, and only then handed on (read into memory or
// moved over the destination), so that a failed download never touches the
// destination. A receive time-out is recovered with a byte-range request.
#pragma once
#include <cstdint>
#include <functional>

#include "http/downloadsteps.h"

// The downloader of InternetGetRequestEx once the plain route was chosen.
// When a gzip answer cannot be decoded, `downloadUncompressed` fetches it
// again without gzip and its result is the call's. Results as
// InternetGetRequestEx.
int32_t DownloadThroughTempFile(const DownloadCall& call, const std::function<int32_t()>& downloadUncompressed);

// Decodes the gzip file `source` into `target` (which may be the same path).
// 1 when the whole stream, every member of it, was decoded and written; 0
// otherwise (bytes after a member that are no member included), and then
// `target` is left as it was. An empty source counts as success and writes
// nothing.
int DecompressGzipFile(const wchar_t* source, const wchar_t* target);
