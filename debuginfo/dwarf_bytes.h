/* dwarf_bytes.h -- reading debug information's numbers and texts without
 * ever reading past the bytes given.
 *
 * Debug sections come from files on disk, which may be truncated, damaged
 * or made to mislead: every read is checked against the end, and the first
 * one that does not fit makes the reader fail for good, answering 0 (or
 * null) from then on. A caller reads a whole structure and checks Failed()
 * once at its end. */
#ifndef TOOLS_DEBUGINFO_DWARF_BYTES_H
#define TOOLS_DEBUGINFO_DWARF_BYTES_H

#include <stddef.h>
#include <stdint.h>

namespace tk {

/* Bytes of a section: data is null only when size is 0. */
struct ByteRange {
    const unsigned char* data;
    size_t size;
};

class ByteReader {
public:
    ByteReader() : at_(nullptr), end_(nullptr), failed_(true) {}
    explicit ByteReader(ByteRange range) : at_(range.data), end_(range.data + range.size), failed_(!range.data) {}
    /* The bytes of range from offset on; failed when offset lies past them. */
    ByteReader(ByteRange range, uint64_t offset) : ByteReader(range)
    {
        Skip(offset);
    }

    bool Failed() const { return failed_; }
    bool AtEnd() const { return at_ == end_; }
    size_t Remaining() const { return static_cast<size_t>(end_ - at_); }
    const unsigned char* Position() const { return at_; }

    /* Little-endian unsigned numbers of 1 to 8 bytes. */
    uint64_t Unsigned(size_t bytes)
    {
        if (!Fits(bytes))
            return 0;
        uint64_t value = 0;
        for (size_t i = bytes; i-- > 0;)
            value = value << 8 | at_[i];
        at_ += bytes;
        return value;
    }
    uint8_t U8() { return static_cast<uint8_t>(Unsigned(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Unsigned(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Unsigned(4)); }
    uint64_t U64() { return Unsigned(8); }
    int8_t S8() { return static_cast<int8_t>(U8()); }

    /* LEB128. One whose value does not fit in 64 bits fails the reader. */
    uint64_t Uleb()
    {
        uint64_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            if (!Fits(1))
                return 0;
            const unsigned char byte = *at_++;
            const uint64_t bits = byte & 0x7F;
            if (shift >= 64 ? bits != 0 : (bits << shift) >> shift != bits)
                return Fail();
            if (shift < 64)
                value |= bits << shift;
            if (!(byte & 0x80))
                return value;
        }
    }
    int64_t Sleb()
    {
        uint64_t value = 0;
        unsigned shift = 0;
        unsigned char byte;
        do {
            if (!Fits(1))
                return 0;
            byte = *at_++;
            const uint64_t bits = byte & 0x7F;
            if (shift < 63) {
                value |= bits << shift;
            } else {
                /* Bit 63 takes the lowest bit; every bit above must repeat
                 * it, as sign extension would have made them. */
                if (shift == 63)
                    value |= bits << 63;
                if (bits != ((value >> 63) ? 0x7Fu : 0u))
                    return Fail();
            }
            shift += 7;
        } while (byte & 0x80);
        if (shift < 64 && (byte & 0x40))
            value |= ~uint64_t(0) << shift;
        return static_cast<int64_t>(value);
    }

    /* A zero-terminated text that ends inside the bytes; null when it does
     * not. */
    const char* Text()
    {
        for (const unsigned char* p = at_; p < end_; ++p)
            if (*p == 0) {
                const char* text = reinterpret_cast<const char*>(at_);
                at_ = p + 1;
                return text;
            }
        Fail();
        return nullptr;
    }

    void Skip(uint64_t bytes)
    {
        if (Fits(bytes))
            at_ += bytes;
    }

    /* The next bytes as a reader of their own, and this one past them. */
    ByteReader Take(uint64_t bytes)
    {
        ByteReader part;
        if (!Fits(bytes))
            return part;
        part.at_ = at_;
        part.end_ = at_ + bytes;
        part.failed_ = false;
        at_ += bytes;
        return part;
    }

    /* The initial length of a unit: 4 bytes, or 0xFFFFFFFF and 8 bytes in
     * 64-bit DWARF (wide is set then). Lengths from 0xFFFFFFF0 up are
     * reserved and fail the reader. */
    uint64_t UnitLength(bool* wide)
    {
        *wide = false;
        uint64_t length = U32();
        if (length == 0xFFFFFFFFu) {
            *wide = true;
            length = U64();
        } else if (length >= 0xFFFFFFF0u) {
            return Fail();
        }
        return length;
    }
    /* A section offset: 8 bytes when wide, else 4. */
    uint64_t Offset(bool wide) { return Unsigned(wide ? 8 : 4); }

    /* The unit at offset of section: its bytes after the initial length,
     * whose width goes into *wide. *next becomes the offset after the
     * unit, or the section's size when the unit runs past it (no unit can
     * be found after it then). A failed reader when there is none. */
    static ByteReader Unit(ByteRange section, uint64_t offset, bool* wide, uint64_t* next)
    {
        *next = section.size;
        *wide = false;
        if (offset >= section.size)
            return ByteReader();
        ByteReader reader(section, offset);
        const uint64_t length = reader.UnitLength(wide);
        ByteReader body = reader.Take(length);
        if (!reader.Failed())
            *next = static_cast<uint64_t>(reader.Position() - section.data);
        return body;
    }

    /* Fails the reader for a reason of the caller's; answers 0. */
    uint64_t Fail()
    {
        failed_ = true;
        at_ = end_;
        return 0;
    }

private:
    bool Fits(uint64_t bytes)
    {
        if (failed_ || bytes > Remaining()) {
            Fail();
            return false;
        }
        return true;
    }

    const unsigned char* at_;
    const unsigned char* end_;
    bool failed_;
};

}  // namespace tk

#endif
