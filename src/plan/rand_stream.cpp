#include "plan/rand_stream.h"

#include <stdlib.h>

#include <cstring>

namespace {

// The C library's state arrays begin with one word: kTypes times the
// position of the word added in, plus the type. rand()'s default state is
// of kStateType.
constexpr int32_t kStateType = 3;
constexpr int32_t kTypes = 5;

// Arrays to hand the state back in, used in turn: rand() may still be
// working on the one an earlier stream handed back.
int32_t handBackArrays[2][32];

char* asState(int32_t* array) { return reinterpret_cast<char*>(array); }

}  // namespace

void RandStream::load(const int32_t* array) {
  rear_ = array[0] / kTypes;
  front_ = (rear_ + kSeparation) % kDegree;
  std::memcpy(state_, array + 1, sizeof state_);
}

void RandStream::store(int32_t* array) const {
  array[0] = kTypes * rear_ + kStateType;
  std::memcpy(array + 1, state_, sizeof state_);
}

// Lets rand() draw from a copy of the stream's state and compares; the
// stream's own state is as before afterwards.
bool RandStream::agreesWithRand() {
  store(handBack_);
  setstate(asState(handBack_));
  int32_t words[kDegree];
  std::memcpy(words, state_, sizeof words);
  const int rear = rear_, front = front_;
  bool same = true;
  for (int i = 0; i < 2 * kDegree && same; ++i) {
    same = next() == uint32_t(std::rand());
  }
  std::memcpy(state_, words, sizeof words);
  rear_ = rear;
  front_ = front;
  return same;
}

RandStream::RandStream() {
#ifdef __GLIBC__
  // setstate() writes the position of the array it leaves into that
  // array's first word and returns the array.
  placeholder_[0] = kStateType;
  int32_t* current =
      reinterpret_cast<int32_t*>(setstate(asState(placeholder_)));
  if (current == nullptr) return;
  if (current[0] % kTypes != kStateType) {
    setstate(asState(current));
    return;
  }
  handBack_ =
      current == handBackArrays[0] ? handBackArrays[1] : handBackArrays[0];
  load(current);
  own_ = true;
  const bool agrees = agreesWithRand();
  // rand() goes back to the placeholder while the stream runs, or, when the
  // copy did not agree, to its own array, untouched so far.
  setstate(asState(agrees ? placeholder_ : current));
  own_ = agrees;
#endif
}

RandStream::~RandStream() {
  if (!own_) return;
  store(handBack_);
  setstate(asState(handBack_));
}
