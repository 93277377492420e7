// Locating ID3 tags in a file's bytes (not parsing them: that is the engine's tag reader).
#pragma once

#include <cstdint>

// From the 10 bytes at a tag's start: the whole ID3v2 tag's length (header, declared
// size, and the footer when flagged) into *length. False when the bytes are not an ID3v2
// header ("ID3", a version byte below 0xFF, synchsafe size bytes below 0x80).
bool LMId3v2TagLength(const uint8_t header[10], uint64_t *length);
