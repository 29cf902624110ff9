#include "xldl/core/TraceFormat.h"

#include <cstdint>
#include <cstring>

namespace xldl {

namespace {

class TOut {
public:
    TOut(char* out, size_t capacity) : Out(out), Capacity(capacity) {}
    void Put(char c) {
        if (Used + 1 < Capacity) Out[Used++] = c;
    }
    void Put(const char* s, size_t n, size_t width, bool left, char pad) {
        for (size_t i = n; !left && i < width; ++i)
            Put(pad);
        for (size_t i = 0; i < n; ++i)
            Put(s[i]);
        for (size_t i = n; left && i < width; ++i)
            Put(' ');
    }
    size_t End() {
        Out[Used] = '\0';
        return Used;
    }

private:
    char* Out;
    size_t Capacity;
    size_t Used = 0;
};

} // namespace

size_t FormatTrace(char* out, size_t capacity, const char* format, va_list args) {
    TOut o(out, capacity);
    for (const char* f = format; *f; ++f) {
        if (*f != '%') {
            o.Put(*f);
            continue;
        }
        const char* conversion = f++;
        bool left = false, zero = false;
        for (; *f == '-' || *f == '0'; ++f)
            (*f == '-' ? left : zero) = true;
        size_t width = 0;
        for (; *f >= '0' && *f <= '9'; ++f)
            width = width * 10 + static_cast<size_t>(*f - '0');
        int size = 0; // hh -2, h -1, none 0, l 1, ll 2
        bool wide = false;
        for (;; ++f) {
            if (*f == 'h')
                --size;
            else if (*f == 'l')
                ++size;
            else if (*f == 'z' || *f == 't')
                wide = sizeof(size_t) > sizeof(int);
            else if (*f == 'j')
                wide = true;
            else
                break;
        }
        if (size >= 2 || (size == 1 && sizeof(long) > sizeof(int))) wide = true;
        const char c = *f;
        if (c == '%') {
            o.Put('%');
            continue;
        }
        if (c == 's') {
            const char* s = va_arg(args, const char*);
            if (!s) s = "(null)";
            o.Put(s, std::strlen(s), width, left, ' ');
            continue;
        }
        if (c == 'c') {
            const char ch = static_cast<char>(va_arg(args, int));
            o.Put(&ch, 1, width, left, ' ');
            continue;
        }
        if (c != 'd' && c != 'i' && c != 'u' && c != 'x' && c != 'X') {
            for (f = conversion; *f; ++f)
                o.Put(*f);
            break;
        }
        const bool isSigned = c == 'd' || c == 'i';
        uint64_t magnitude;
        bool negative = false;
        if (isSigned) {
            int64_t v = wide ? va_arg(args, long long) : va_arg(args, int);
            if (size == -1) v = static_cast<short>(v);
            if (size <= -2) v = static_cast<signed char>(v);
            negative = v < 0;
            magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        } else {
            magnitude = wide ? va_arg(args, unsigned long long) : va_arg(args, unsigned);
            if (size == -1) magnitude = static_cast<unsigned short>(magnitude);
            if (size <= -2) magnitude = static_cast<unsigned char>(magnitude);
        }
        const unsigned base = (c == 'x' || c == 'X') ? 16 : 10;
        const char* digits = c == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        char text[24];
        char* p = text + sizeof text;
        do {
            *--p = digits[magnitude % base];
        } while (magnitude /= base);
        if (negative && zero && !left) { // the sign goes before the zeros
            o.Put('-');
            if (width) --width;
            negative = false;
        }
        if (negative) *--p = '-';
        o.Put(p, static_cast<size_t>(text + sizeof text - p), width, left, zero ? '0' : ' ');
    }
    return o.End();
}

size_t FormatTraceArgs(char* out, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const size_t n = FormatTrace(out, capacity, format, args);
    va_end(args);
    return n;
}

} // namespace xldl
