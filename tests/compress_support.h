// Compressing test data in-process with the same libraries the tool reads
// it with, so that tests need no command-line compressors.
#pragma once

#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <string>

enum class Format { kGzip, kZstd, kXz };

inline std::string Compress(Format format, const std::string& text) {
  std::string out;
  switch (format) {
    case Format::kGzip: {
      z_stream z{};
      deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
      out.resize(deflateBound(&z, text.size()) + 64);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
      z.avail_in = static_cast<uInt>(text.size());
      z.next_out = reinterpret_cast<Bytef*>(out.data());
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, Z_FINISH);
      out.resize(z.total_out);
      deflateEnd(&z);
      break;
    }
    case Format::kZstd:
      out.resize(ZSTD_compressBound(text.size()));
      out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
      break;
    case Format::kXz: {
      out.resize(lzma_stream_buffer_bound(text.size()));
      size_t pos = 0;
      lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr,
                              reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                              reinterpret_cast<uint8_t*>(out.data()), &pos, out.size());
      out.resize(pos);
      break;
    }
  }
  return out;
}
