#include "support/gzip.h"

#include <zlib.h>

namespace {

constexpr int kGzipWindowBits = 15 + 16; // the largest window, gzip header and trailer
constexpr int kChunk = 65536;

} // namespace

QByteArray Gunzip(const QByteArray& data) {
    z_stream stream{};
    inflateInit2(&stream, kGzipWindowBits);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    QByteArray out;
    char chunk[kChunk];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, int(sizeof chunk - stream.avail_out));
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}
