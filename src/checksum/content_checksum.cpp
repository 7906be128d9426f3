#include "checksum/content_checksum.h"

// The state on the stack needs the library's struct layout.
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

uint64_t contentChecksum(uint64_t size, std::string_view head,
                         std::string_view tail) {
  unsigned char sizeBytes[8];
  for (int i = 0; i < 8; ++i) {
    sizeBytes[i] = static_cast<unsigned char>(size >> (8 * i));
  }
  XXH3_state_t state;
  XXH3_64bits_reset(&state);
  XXH3_64bits_update(&state, sizeBytes, sizeof sizeBytes);
  XXH3_64bits_update(&state, head.data(), head.size());
  XXH3_64bits_update(&state, tail.data(), tail.size());
  return XXH3_64bits_digest(&state);
}
