#ifndef PLINKARD_PLAN_RAND_STREAM_H_
#define PLINKARD_PLAN_RAND_STREAM_H_

#include <cstdint>
#include <cstdlib>

// Draws exactly the numbers that rand() would draw, in the same order, but
// without rand()'s lock and call for every number: the planner needs ten
// million of them for a large library.
//
// With the GNU C library, construction takes over the state of rand()'s
// generator and destruction hands the advanced state back, so that rand()
// goes on exactly where the stream stopped. The copy is checked against
// rand() itself first; wherever it does not agree (another C library, a
// state of another size set with initstate), next() simply calls rand().
// Only one stream may exist at a time, and nothing may call rand() or
// srand() while it does.
class RandStream {
 public:
  RandStream();
  ~RandStream();
  RandStream(const RandStream&) = delete;
  RandStream& operator=(const RandStream&) = delete;

  // The next number of the sequence, as rand() returns it.
  uint32_t next();
  // Whether the stream draws by itself rather than through rand().
  bool drawsByItself() const { return own_; }

 private:
  // The generator of the default state: 31 words, each new word the sum
  // of the words 31 and 3 places back, the low bit dropped on output.
  static constexpr int kDegree = 31;
  static constexpr int kSeparation = 3;

  // Loads state_ from a state array in the C library's layout (a first
  // word telling the type and position, then the words), and back.
  void load(const int32_t* array);
  void store(int32_t* array) const;
  bool agreesWithRand();

  bool own_ = false;  // false: next() calls rand()
  int32_t state_[kDegree] = {};
  int rear_ = 0;   // the word added in
  int front_ = 0;  // the word that takes the sum
  // The array the stream hands the state back in.
  int32_t* handBack_ = nullptr;
  // A placeholder that rand() holds while the stream has the state.
  int32_t placeholder_[kDegree + 1] = {};
};

inline uint32_t RandStream::next() {
  if (!own_) return uint32_t(std::rand());
  const uint32_t sum = uint32_t(state_[front_]) + uint32_t(state_[rear_]);
  state_[front_] = int32_t(sum);
  if (++front_ == kDegree) front_ = 0;
  if (++rear_ == kDegree) rear_ = 0;
  return sum >> 1;
}

#endif  // PLINKARD_PLAN_RAND_STREAM_H_
