/* The compiler's helper routines that code for the receiver needs, built for
   MIPS32 release 1. Debian's libgcc.a is built for release 2: its __bswapsi2
   is a wsbh, which traps on a 4Kc. Everything linked for the MIPS run finds
   these first. Hidden, as libgcc's are, so no shared object exports them. */

#define HELPER __attribute__((visibility("hidden")))

typedef unsigned int u32;
typedef unsigned long long u64;
typedef long long s64;

HELPER u32 __bswapsi2(u32 value);
HELPER u64 __bswapdi2(u64 value);
HELPER u64 __udivdi3(u64 dividend, u64 divisor);
HELPER u64 __umoddi3(u64 dividend, u64 divisor);
HELPER s64 __divdi3(s64 dividend, s64 divisor);
HELPER s64 __moddi3(s64 dividend, s64 divisor);

static u32 swap32(u32 value)
{
    return (value >> 24) | ((value >> 8) & 0xff00u) | ((value << 8) & 0xff0000u) | (value << 24);
}

u32 __bswapsi2(u32 value) { return swap32(value); }

u64 __bswapdi2(u64 value)
{
    return ((u64)swap32((u32)value) << 32) | swap32((u32)(value >> 32));
}

/* Values that fit in 32 bits use the divide instruction (which traps on a zero
   divisor, as libgcc's does); the rest are divided one bit at a time. */
static u64 divide(u64 dividend, u64 divisor, u64* remainder)
{
    if ((dividend >> 32) == 0 && (divisor >> 32) == 0) {
        u32 quotient = (u32)dividend / (u32)divisor;
        *remainder = (u32)dividend - quotient * (u32)divisor;
        return quotient;
    }
    if (divisor == 0) {
        volatile u32 zero = 0;
        *remainder = 0;
        return (u32)dividend / zero;
    }
    /* Only shifts by constants: a variable 64-bit shift would call libgcc. */
    u64 quotient = 0;
    u64 rest = 0;
    for (int bit = 63; bit >= 0; --bit) {
        u32 word = (u32)(bit >= 32 ? dividend >> 32 : dividend);
        rest = (rest << 1) | ((word >> (bit & 31)) & 1u);
        quotient <<= 1;
        if (rest >= divisor) {
            rest -= divisor;
            quotient |= 1;
        }
    }
    *remainder = rest;
    return quotient;
}

static u64 magnitude(s64 value) { return value < 0 ? -(u64)value : (u64)value; }

u64 __udivdi3(u64 dividend, u64 divisor)
{
    u64 remainder;
    return divide(dividend, divisor, &remainder);
}

u64 __umoddi3(u64 dividend, u64 divisor)
{
    u64 remainder;
    divide(dividend, divisor, &remainder);
    return remainder;
}

/* C rounds towards zero: the quotient is negative when the signs differ, the
   remainder has the dividend's sign. */
s64 __divdi3(s64 dividend, s64 divisor)
{
    u64 remainder;
    u64 quotient = divide(magnitude(dividend), magnitude(divisor), &remainder);
    return (s64)((dividend < 0) != (divisor < 0) ? -quotient : quotient);
}

s64 __moddi3(s64 dividend, s64 divisor)
{
    u64 remainder;
    divide(magnitude(dividend), magnitude(divisor), &remainder);
    return (s64)(dividend < 0 ? -remainder : remainder);
}
