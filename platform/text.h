// Building short messages in a fixed buffer, without a C library (the
// modules' refusals, the core's geometry refusals): text is cut at the
// buffer's end and always ends with a zero.
#ifndef ZEMIVTC_PLATFORM_TEXT_H
#define ZEMIVTC_PLATFORM_TEXT_H

#include <stdint.h>

struct TextBuffer {
  char* at;   // where the next byte goes; *at is always 0
  char* end;  // the last byte of the buffer, kept for the zero
};

inline TextBuffer StartText(char* buffer, int32_t size) {
  buffer[0] = 0;
  return TextBuffer{buffer, buffer + size - 1};
}

inline TextBuffer& operator<<(TextBuffer& t, const char* s) {
  while (s != nullptr && *s && t.at < t.end) *t.at++ = *s++;
  *t.at = 0;
  return t;
}

// Decimal; 64-bit values take the compiler's 64-bit division on 32-bit x86.
template <class Unsigned, class Signed>
TextBuffer& PutDecimal(TextBuffer& t, Signed value) {
  char text[24];
  int32_t n = 23;
  text[n] = 0;
  Unsigned magnitude = value < 0 ? Unsigned(0) - static_cast<Unsigned>(value) : static_cast<Unsigned>(value);
  do {
    text[--n] = static_cast<char>('0' + magnitude % 10u);
    magnitude /= 10u;
  } while (magnitude != 0);
  if (value < 0) text[--n] = '-';
  return t << (text + n);
}
inline TextBuffer& operator<<(TextBuffer& t, int32_t value) { return PutDecimal<uint32_t>(t, value); }
inline TextBuffer& operator<<(TextBuffer& t, int64_t value) { return PutDecimal<uint64_t>(t, value); }

// A message with a buffer of its own.
struct Message {
  char text[400];
  TextBuffer out;
  Message() : out(StartText(text, sizeof text)) {}
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  template <class T>
  Message& operator<<(T value) {
    out << value;
    return *this;
  }
};

inline void PutHex(TextBuffer& t, uint32_t value) {
  char text[11] = "0x";
  for (int i = 0; i < 8; ++i) text[2 + i] = "0123456789ABCDEF"[(value >> (28 - 4 * i)) & 15];
  text[10] = 0;
  t << text;
}

inline bool SameText(const char* a, const char* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// Case-insensitive for ASCII letters.
inline bool SameWord(const char* a, const char* b) {
  while (*a && ((*a | 0x20) == (*b | 0x20))) ++a, ++b;
  return *a == 0 && *b == 0;
}

#endif
