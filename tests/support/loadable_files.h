// Files the program accepts as what a mode loads, made for tests: their
// contents vary from place to place (so the printer's journal proves byte
// order), yet they hold together as the preview reads them.
#pragma once

#include <QByteArray>
#include <algorithm>
#include <cstdint>

namespace velquin::testing {

// Bytes that differ from place to place, the same for the same seed.
inline QByteArray variedBytes(qsizetype size, unsigned seed) {
    QByteArray bytes;
    bytes.reserve(size);
    std::uint32_t state = seed * 2654435761u + 1;
    while (bytes.size() < size) {
        state = state * 1103515245u + 12345u;
        bytes.append(static_cast<char>(state >> 16));
    }
    return bytes;
}

inline void putBigEndian(QByteArray& bytes, qsizetype at, std::uint32_t value, int length) {
    for (int i = 0; i < length; ++i) bytes[at + i] = static_cast<char>(value >> (8 * (length - 1 - i)));
}

// A True Type file of `size` bytes (at least 28): the offset table, one
// table record, and the table's varied bytes filling the rest.
inline QByteArray trueTypeFile(qsizetype size, unsigned seed) {
    constexpr qsizetype DIRECTORY = 12 + 16;
    QByteArray bytes(DIRECTORY, '\0');
    putBigEndian(bytes, 0, 0x00010000, 4);
    putBigEndian(bytes, 4, 1, 2);
    bytes.replace(12, 4, "glyf");
    const qsizetype body = std::max<qsizetype>(size - DIRECTORY, 0);
    putBigEndian(bytes, 20, DIRECTORY, 4);
    putBigEndian(bytes, 24, static_cast<std::uint32_t>(body), 4);
    return bytes + variedBytes(body, seed);
}

// A PCX image of `size` bytes (at least 144): one bit a dot, 128 dots wide,
// as many lines as the size holds; varied dots. Run-length encoded with no
// runs (every byte below 0xC0 stands for itself), so a file cut short is
// one whose data ends early.
inline QByteArray pcxFile(qsizetype size, unsigned seed) {
    constexpr qsizetype HEADER = 128;
    constexpr int BYTES_PER_LINE = 16;
    QByteArray bytes(HEADER, '\0');
    bytes[0] = '\x0a';
    bytes[1] = '\x05';
    bytes[2] = '\x01';
    bytes[3] = '\x01';
    const auto lines = static_cast<int>(std::max<qsizetype>((size - HEADER) / BYTES_PER_LINE, 1));
    auto word = [&bytes](qsizetype at, int value) {
        bytes[at] = static_cast<char>(value & 0xFF);
        bytes[at + 1] = static_cast<char>(value >> 8);
    };
    word(8, BYTES_PER_LINE * 8 - 1);
    word(10, lines - 1);
    bytes[65] = '\x01';
    word(66, BYTES_PER_LINE);
    QByteArray dots = variedBytes(std::max<qsizetype>(size - HEADER, BYTES_PER_LINE), seed);
    for (char& dot : dots) dot = static_cast<char>(dot & 0x7F);
    return bytes + dots;
}

}  // namespace velquin::testing
