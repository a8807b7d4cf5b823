// Compressed input, recognised by its first bytes (never by its name): gzip and zstd are decompressed
// as they are read; other compressed formats are refused with a message that names the format and
// the command that decompresses it, instead of being read as a line of binary bytes.
//
// Concatenated gzip members and zstd files of several frames are read to the end. A stream that is
// corrupt, or that ends before its compressed data does (a truncated download), is a QuarnError
// naming the input.
#pragma once

#include <memory>
#include <string>

#include "ByteSource.h"

// Looks at the first bytes of raw and returns a source of the text it holds: raw itself (with the
// bytes looked at put back) for uncompressed input, a decompressor for gzip and zstd. name stands for
// the input in messages.
std::unique_ptr<ByteSource> decompressing_source(std::unique_ptr<ByteSource> raw, const std::string& name);
