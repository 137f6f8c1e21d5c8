// Little-endian byte builder for data files made by hand in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct Bytes {
    std::string data;
    Bytes& raw(std::string_view s) {
        data.append(s);
        return *this;
    }
    Bytes& zeros(size_t n) {
        data.append(n, '\0');
        return *this;
    }
    Bytes& u8(uint8_t v) {
        data.push_back(static_cast<char>(v));
        return *this;
    }
    Bytes& u16(uint16_t v) { return u8(v & 0xff).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v & 0xffff).u16(v >> 16); }
    Bytes& u64(uint64_t v) { return u32(static_cast<uint32_t>(v)).u32(static_cast<uint32_t>(v >> 32)); }
    Bytes& str16(std::string_view s) { return u16(static_cast<uint16_t>(s.size())).raw(s); }
    Bytes& str32(std::string_view s) { return u32(static_cast<uint32_t>(s.size())).raw(s); }
};
