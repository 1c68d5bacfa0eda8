// The engine's Base64 encoding of byte strings (used to carry exception data inside messages).
//
// Standard alphabet and "=" padding for every non-empty input; encoded data is exchanged between
// engine instances, so two quirks are part of the format: the empty input encodes as "A===", and
// the decoder maps any character outside the alphabet (padding included) to the value 61 and then
// drops one output byte per trailing "=".
#pragma once
#include <string>
#include <string_view>

namespace zf {

std::string StrToBase64(std::string_view aData);
// Fails with the run-time base exception "Base64ToStr: illegal input length!" when the input is
// shorter than 4 characters or its length is not a multiple of 4.
std::string Base64ToStr(std::string_view aText);

}  // namespace zf
