#include "Decompression.h"

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <climits>
#include <new>
#include <string_view>
#include <vector>

#include "helpers.h"

namespace {

// Compressed bytes are read from the raw source in blocks of this size.
constexpr std::size_t kInputBlock = std::size_t{256} << 10;
// The most leading bytes any recognised format needs.
constexpr std::size_t kLookedAt = 8;

class GzipSource : public ByteSource {
 public:
  GzipSource(std::unique_ptr<ByteSource> raw, std::string name)
      : raw_(std::move(raw)), name_(std::move(name)), input_(kInputBlock) {
    // 16 + 15: a gzip header and trailer around deflate data with a window of up to 32 KiB.
    if (inflateInit2(&stream_, 16 + 15) != Z_OK) throw std::bad_alloc();
  }
  ~GzipSource() override { inflateEnd(&stream_); }

  std::size_t read(char* into, std::size_t room) override {
    const auto out_room = static_cast<uInt>(std::min<std::size_t>(room, UINT_MAX));
    stream_.next_out = reinterpret_cast<Bytef*>(into);
    stream_.avail_out = out_room;
    while (stream_.avail_out == out_room) {
      if (stream_.avail_in == 0 && !raw_ended_) read_input();
      if (stream_.avail_in == 0 && raw_ended_) {
        if (member_ended_) break;
        fail(name_, "the gzip data ends early: the file is truncated");
      }
      if (member_ended_) {
        // More bytes after a member: another member, as `cat a.gz b.gz` makes.
        inflateReset(&stream_);
        member_ended_ = false;
      }
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        member_ended_ = true;
      } else if (result == Z_MEM_ERROR) {
        throw std::bad_alloc();
      } else if (result != Z_OK && result != Z_BUF_ERROR) {  // Z_BUF_ERROR: it needs more input
        fail(name_,
             std::string("corrupt gzip data (") + (stream_.msg != nullptr ? stream_.msg : "no detail") + ")");
      }
    }
    return out_room - stream_.avail_out;
  }

 private:
  void read_input() {
    const std::size_t got = raw_->read(input_.data(), input_.size());
    raw_ended_ = got == 0;
    stream_.next_in = reinterpret_cast<Bytef*>(input_.data());
    stream_.avail_in = static_cast<uInt>(got);
  }

  std::unique_ptr<ByteSource> raw_;
  std::string name_;
  std::vector<char> input_;
  z_stream stream_{};
  bool raw_ended_ = false;
  bool member_ended_ = false;
};

class ZstdSource : public ByteSource {
 public:
  ZstdSource(std::unique_ptr<ByteSource> raw, std::string name)
      : raw_(std::move(raw)), name_(std::move(name)), input_(kInputBlock), context_(ZSTD_createDCtx()) {
    if (context_ == nullptr) throw std::bad_alloc();
  }
  ~ZstdSource() override { ZSTD_freeDCtx(context_); }

  std::size_t read(char* into, std::size_t room) override {
    ZSTD_outBuffer out{into, room, 0};
    for (;;) {
      if (in_.pos == in_.size && !raw_ended_) read_input();
      const bool input_ended = in_.pos == in_.size && raw_ended_;
      if (input_ended && frame_rest_ == 0) return out.pos;
      const std::size_t result = ZSTD_decompressStream(context_, &out, &in_);
      if (ZSTD_isError(result))
        fail(name_, std::string("corrupt zstd data (") + ZSTD_getErrorName(result) + ")");
      // 0 once a frame is decoded and flushed; another frame may follow.
      frame_rest_ = result;
      if (out.pos > 0) return out.pos;
      if (input_ended) fail(name_, "the zstd data ends early: the file is truncated");
    }
  }

 private:
  void read_input() {
    const std::size_t got = raw_->read(input_.data(), input_.size());
    raw_ended_ = got == 0;
    in_ = ZSTD_inBuffer{input_.data(), got, 0};
  }

  std::unique_ptr<ByteSource> raw_;
  std::string name_;
  std::vector<char> input_;
  ZSTD_DCtx* context_;
  ZSTD_inBuffer in_{nullptr, 0, 0};
  std::size_t frame_rest_ = 1;  // what the last call left to decode; 0 between frames
  bool raw_ended_ = false;
};

bool starts_with(std::string_view bytes, std::string_view magic) {
  return bytes.substr(0, magic.size()) == magic;
}

// Formats quarn recognises and does not read, and what decompresses or extracts each.
struct UnreadFormat {
  std::string_view magic;
  std::string_view what;  // completes "is ..."
  std::string_view remedy;
};

using namespace std::string_view_literals;
constexpr UnreadFormat kUnreadFormats[] = {
    {"\xFD"
     "7zXZ\0"sv,
     "compressed with xz", "decompress it first (unxz)"},
    {"PK\x03\x04"sv, "a zip archive", "extract it first (unzip)"},
    {"PK\x05\x06"sv, "a zip archive", "extract it first (unzip)"},
    {"7z\xBC\xAF\x27\x1C"sv, "a 7z archive", "extract it first (7z x)"},
    {"\x04\x22\x4D\x18"sv, "compressed with lz4", "decompress it first (unlz4)"},
    {"\x02\x21\x4C\x18"sv, "compressed with lz4", "decompress it first (unlz4)"},
    {"LZIP"sv, "compressed with lzip", "decompress it first (lzip -d)"},
    {"\x1F\x9D"sv, "compressed with compress", "decompress it first (uncompress)"},
};

// bzip2: "BZh" and the block size, a digit from 1 to 9.
bool is_bzip2(std::string_view bytes) {
  return starts_with(bytes, "BZh") && bytes.size() > 3 && bytes[3] >= '1' && bytes[3] <= '9';
}

// zstd frames, and the skippable frames that may come before them.
bool is_zstd(std::string_view bytes) {
  return starts_with(bytes, "\x28\xB5\x2F\xFD") ||
         (bytes.size() >= 4 && (static_cast<unsigned char>(bytes[0]) & 0xF0) == 0x50 &&
          bytes.substr(1, 3) == "\x2A\x4D\x18");
}

}  // namespace

std::unique_ptr<ByteSource> decompressing_source(std::unique_ptr<ByteSource> raw, const std::string& name) {
  std::string first(kLookedAt, '\0');
  std::size_t have = 0;
  while (have < kLookedAt) {
    const std::size_t got = raw->read(first.data() + have, kLookedAt - have);
    if (got == 0) break;
    have += got;
  }
  first.resize(have);
  const bool gzip = starts_with(first, "\x1F\x8B");
  const bool zstd = is_zstd(first);
  if (is_bzip2(first))
    fail(name, "is compressed with bzip2, which quarn does not read; decompress it first (bunzip2)");
  for (const UnreadFormat& format : kUnreadFormats) {
    if (starts_with(first, format.magic)) {
      fail(name,
           "is " + std::string(format.what) + ", which quarn does not read; " + std::string(format.remedy));
    }
  }
  auto source = prefixed_source(std::move(first), std::move(raw));
  if (gzip) return std::make_unique<GzipSource>(std::move(source), name);
  if (zstd) return std::make_unique<ZstdSource>(std::move(source), name);
  return source;
}
