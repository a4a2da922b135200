// Small image files built byte by byte, for the cases an image writer
// would not make: parts that declare more than the file holds.
#pragma once

#include <zlib.h>

#include <QByteArray>
#include <QtEndian>

namespace velquin::testing {

inline QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), chunk.data());
    const QByteArray body = QByteArray(type, 4) + data;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(
        quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))), crc.data());
    return chunk + body + crc;
}

// A 1 x 1 grey PNG; with `declaredText`, cut after a text part's header
// that declares that many bytes.
inline QByteArray tinyPng(quint32 declaredText = 0) {
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(1, header.data());
    qToBigEndian<quint32>(1, header.data() + 4);
    header[8] = 8;  // bits per sample, grey
    QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header);
    if (declaredText != 0) {
        QByteArray text(4, '\0');
        qToBigEndian<quint32>(declaredText, text.data());
        return png + text + "tEXtabcd" + QByteArray(6, '\0');
    }
    uLongf packedSize = 64;
    QByteArray packed(int(packedSize), '\0');
    const Bytef row[] = {0, 0x80};
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize, row, sizeof row);
    packed.resize(qsizetype(packedSize));
    return png + pngChunk("IDAT", packed) + pngChunk("IEND", {});
}

}  // namespace velquin::testing
