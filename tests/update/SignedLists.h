#pragma once

// The TEST-ONLY keys, file lists and signatures the build made with openssl
// (tests/fixtures/make_signed_lists.py).

#include <cstddef>
#include <string>

namespace Orvane::Fixture {

// Windows path of a file in the fixture directory ("v2.json", "payload/wow.exe").
std::wstring SignedListPath(const std::string& name);
// Its bytes; empty (and a test failure) when it cannot be read.
std::string SignedListFile(const std::string& name);

// Lengths of r and s in a DER ECDSA-Sig-Value, without DER's sign padding.
bool SignatureValueLengths(const std::string& der, size_t& r, size_t& s);

}  // namespace Orvane::Fixture
