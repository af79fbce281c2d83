#pragma once

#include <string>

namespace Orvane {

// MD5 of a file's bytes as 32 lower-case hexadecimal characters; empty when the
// file cannot be opened for reading (missing, a directory, locked) or hashed.
// Streams through a fixed buffer, so memory use does not depend on file size.
std::string ComputeFileMd5(const std::wstring& path);

}  // namespace Orvane
