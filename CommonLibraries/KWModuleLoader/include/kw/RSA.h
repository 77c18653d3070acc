// The RSA public-key operation with the library's own block padding.
//
// Padded block layout. Integers and bytes are little-endian: byte i of a block
// is bits 8i to 8i+7 of its integer m, and 32-bit word j is bytes 4j to 4j+3.
// For a modulus n whose highest set bit has index h (h + 1 bits), let
// C = (h - 34) / 32, rounded down. Then m holds:
//
//   bytes 0 to L-1       the payload, byte 0 first
//   32-bit word C        L, the payload length in bytes, with L <= 4C
//   (bytes 4C to 4C+3)
//   bit h - 2            a marker bit, set by the producer (the reader
//                        clears it without testing it)
//   every other byte     zero, from byte L up to the end of n's storage
//
// For a 2048-bit modulus: h = 2047, C = 62, L sits in bytes 248 to 251 (at
// most 248 payload bytes) and the marker is bit 2045. For 1024 bits: C = 30,
// L in bytes 120 to 123, marker bit 1021. The producer applies the private
// exponent to m (raw, no other padding) and stores the result as 4C + 4 or
// more little-endian bytes; Encrypt raises it to the public exponent and
// checks and strips the layout.
#pragma once

#include <kw/MultiprecisionInteger.h>

#include <boost/function.hpp>

#include <cstddef>

namespace kw {

class RSA {
public:
    // Receives the payload: a pointer to its first byte and its length.
    typedef boost::function<void(const void*, unsigned)> Output;

    // The public key (n, e): n odd, e odd. A zero n raises "divided by zero".
    explicit RSA(const MultiprecisionInteger& n, const MultiprecisionInteger& e = MultiprecisionInteger::F4());
    // n from its little-endian bytes, as a key file holds it.
    RSA(const void* modulus, std::size_t length);

    // block^e mod n, then DecryptionAntiPadding: output is called exactly once
    // with the payload if the block is valid, never if it is not.
    void Encrypt(const void* block, std::size_t length, const Output& output) const;

    // Checks the padding layout of m, clears its length word and marker bit
    // and calls output(byte 0 of m, L). "illegal cypher text" if the length
    // word exceeds 4C or a byte above the payload is not zero.
    void DecryptionAntiPadding(MultiprecisionInteger& m, const Output& output) const;

    unsigned GetBits() const { return k_; }

private:
    unsigned k_; // bit length of n; R = 2^k is the Montgomery radix
    MultiprecisionInteger n_;
    MultiprecisionInteger r_squared_; // R^2 mod n
    MultiprecisionInteger n_prime_; // n * n' = -1 mod R
    MultiprecisionInteger e_;
};

} // namespace kw
