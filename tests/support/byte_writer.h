/* byte_writer.h -- little-endian numbers, LEB128 numbers and texts
 * appended to a byte vector, for the tests that hand parsers tables of
 * their own making. */
#ifndef TOOLS_TESTS_SUPPORT_BYTE_WRITER_H
#define TOOLS_TESTS_SUPPORT_BYTE_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace tktest {

typedef std::vector<unsigned char> Bytes;

struct Out {
    Bytes b;
    Out& N(uint64_t value, size_t size)
    {
        for (size_t i = 0; i < size; ++i)
            b.push_back(static_cast<unsigned char>(value >> (8 * i)));
        return *this;
    }
    Out& U8(uint64_t v) { return N(v, 1); }
    Out& U16(uint64_t v) { return N(v, 2); }
    Out& U32(uint64_t v) { return N(v, 4); }
    Out& U64(uint64_t v) { return N(v, 8); }
    Out& Uleb(uint64_t v)
    {
        do {
            U8((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
            v >>= 7;
        } while (v);
        return *this;
    }
    Out& Sleb(int64_t v)
    {
        for (;;) {
            const unsigned char byte = v & 0x7F;
            v >>= 7;
            if ((v == 0 && !(byte & 0x40)) || (v == -1 && (byte & 0x40)))
                return U8(byte);
            U8(byte | 0x80);
        }
    }
    Out& Text(const std::string& s)
    {
        b.insert(b.end(), s.begin(), s.end());
        return U8(0);
    }
    Out& Add(const Bytes& more)
    {
        b.insert(b.end(), more.begin(), more.end());
        return *this;
    }
};

}  // namespace tktest

#endif
