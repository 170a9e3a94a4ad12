#pragma once
// Makes fuzz inputs from real documents: a seed changed by a few mutations,
// each decided by the random numbers alone, so that a seed number gives the
// same input again.

#include <cstddef>
#include <string>
#include <vector>

#include "prng.h"

namespace fuzz {

enum class Mutation {
  kBitFlip,
  kInsertBytes,
  kDeleteBytes,
  kSplice,  // the start of one document and the end of another
  kDuplicateElement,
  kDuplicateAttribute,
  kDeepNesting,
  kHugeValue,  // a long run of one character, or a number out of every range
  kNulBytes,
  kInvalidUtf8,
  kCodePageBytes,   // bytes above 0x7F as a code page has them, Shift-JIS pairs among them
  kDictionaryWord,  // a word the surface knows, such as a switch or an element name
  kRepeatChunk,
  kCount,
};

class Mutator {
 public:
  // seeds must not be empty; no input grows beyond maxBytes.
  Mutator(std::vector<std::string> seeds, std::vector<std::string> dictionary, size_t maxBytes);

  // A seed with one to four mutations, now and then a seed as it is.
  std::string Make(Prng& prng) const;

  void Apply(Mutation mutation, std::string& input, Prng& prng) const;

  const std::vector<std::string>& seeds() const { return seeds_; }

 private:
  size_t Position(const std::string& input, Prng& prng) const;
  void Insert(std::string& input, size_t at, const std::string& bytes) const;

  std::vector<std::string> seeds_;
  std::vector<std::string> dictionary_;
  size_t maxBytes_;
};

}  // namespace fuzz
