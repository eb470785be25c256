#pragma once
// The text model: a Text is a byte string in the system code page (GB18030, a superset of
// CP936). A byte of 0x80 or above leads a multi-byte character whose length is always even,
// so stepping over a lead byte and the byte after it never splits a character.
// A missing text and the empty text are the same value here.

#include <string>

namespace velmora {

using Text = std::string;

inline bool IsLeadByte(unsigned char byte) {
    return byte >= 0x80;
}

}  // namespace velmora
