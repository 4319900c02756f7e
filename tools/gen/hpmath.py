"""High-precision arithmetic for the table generators (Python 3 stdlib only); their output layout is
cpp_emit.py's.

Transcendental values are evaluated with decimal arithmetic at 60 significant digits, far
beyond the 2^-31 resolution of the tables, so rounding to the nearest integer is exact for
every entry (no table value lies within 10^-40 of a rounding tie). Rational powers are
rounded exactly with integer roots.
"""
from decimal import Decimal, getcontext, ROUND_HALF_EVEN
from math import isqrt

getcontext().prec = 60


def pi():
    """pi by Machin's formula."""
    def arctan_inv(x):
        x = Decimal(x)
        total, term, n, sign = Decimal(0), 1 / x, 1, 1
        x2 = x * x
        eps = Decimal(10) ** -(getcontext().prec + 2)
        while term > eps:
            total += sign * term / n
            term /= x2
            n += 2
            sign = -sign
        return total
    return 16 * arctan_inv(5) - 4 * arctan_inv(239)


PI = pi()


def _reduce(x):
    two_pi = 2 * PI
    return x - two_pi * (x / two_pi).to_integral_value()


def sin(x):
    x = _reduce(Decimal(x))
    total, term, n = Decimal(0), x, 1
    eps = Decimal(10) ** -(getcontext().prec + 2)
    while abs(term) > eps:
        total += term
        term = -term * x * x / ((n + 1) * (n + 2))
        n += 2
    return total


def cos(x):
    return sin(PI / 2 - Decimal(x))


def sqrt(x):
    return Decimal(x).sqrt()


def bessel_i0(x):
    """Modified Bessel function of the first kind, order 0: sum_k ((x/2)^k / k!)^2."""
    half = Decimal(x) / 2
    total, term, k = Decimal(1), Decimal(1), 0
    eps = Decimal(10) ** -(getcontext().prec + 2)
    while True:
        k += 1
        term = term * half / k
        t2 = term * term
        total += t2
        if t2 < eps * total:
            return total


def rint(x):
    """Nearest integer (the tables never hit a tie)."""
    return int(Decimal(x).to_integral_value(rounding=ROUND_HALF_EVEN))


def q(x, frac_bits):
    """x * 2^frac_bits rounded; a value of exactly 2^31 is stored as 0x7FFFFFFF."""
    v = rint(Decimal(x) * (Decimal(2) ** frac_bits))
    return min(v, 0x7FFFFFFF)


def iroot(x, k):
    """floor(x^(1/k)) for an integer x >= 0."""
    if x < 2:
        return x
    r = 1 << ((x.bit_length() + k - 1) // k)
    while True:
        s = ((k - 1) * r + x // r ** (k - 1)) // k
        if s >= r:
            break
        r = s
    while r ** k > x:
        r -= 1
    while (r + 1) ** k <= x:
        r += 1
    return r


def round_root(num, den, k):
    """(num/den)^(1/k) rounded to the nearest integer, exactly (num, den > 0 integers)."""
    n = iroot(num // den, k)
    # n + 1/2 < root  <=>  (2n + 1)^k * den < 2^k * num
    return n + 1 if (2 * n + 1) ** k * den < (1 << k) * num else n


def sat31(v):
    return min(v, 0x7FFFFFFF)



def f32(x):
    """The binary32 value nearest to the exact value x (Decimal, Fraction, int or float; ties to
    even), as a Python float: float(x) may round x to a double that sits on the far side of a
    binary32 tie, so the float's two neighbours are compared exactly as well."""
    import struct
    from fractions import Fraction
    exact = Fraction(x)
    f = struct.unpack("<f", struct.pack("<f", float(exact)))[0]
    bits = struct.unpack("<I", struct.pack("<f", f))[0]
    best = f
    for nb in (bits - 1, bits + 1):
        if 0 <= nb < 2**32:
            g = struct.unpack("<f", struct.pack("<I", nb))[0]
            if g == g and abs(Fraction(g) - exact) < abs(Fraction(best) - exact):
                best = g
    return best
