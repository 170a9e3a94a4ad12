#include "mutator.h"

#include <algorithm>
#include <string_view>

namespace fuzz {

namespace {

constexpr size_t kMaxMutationsPerInput = 4;
constexpr size_t kUnchangedSeedOneIn = 32;
constexpr size_t kMaxNestingDepth = 20000;
constexpr size_t kMaxDuplicates = 200;

constexpr std::string_view kInterestingBytes("\0\xFF\x80\x7F<>&\"'\\/ \t\r\n:;=%[]-+", 23);
constexpr std::string_view kInvalidUtf8[] = {
    "\xC0\x80",          // overlong NUL
    "\xED\xA0\x80",      // a lone surrogate
    "\xF5\x80\x80\x80",  // beyond U+10FFFF
    "\x80",              // a continuation byte alone
    "\xE3\x81",          // cut short
    "\xFF\xFE",
    "\xF0\x9F\x98",
    "\xEF\xBB\xBF",  // a byte order mark in the middle
};
constexpr std::string_view kCodePageRuns[] = {
    "\x81\x40", "\x83\x5C",  // Shift-JIS pairs; the second ends in a backslash
    "\x82\xA0", "\x8E\xA1", "\xA4\xE4\xF6\xFC\xDF", "\x80\x9F\xA0", "\x81\x8D\x8F\x90\x9D",
};
constexpr std::string_view kHugeNumbers[] = {
    "99999999999999999999999",
    "2147483648",
    "-2147483649",
    "4294967296",
    "65536",
    "0",
    "-0",
    "+",
    "1e999",
    "0x7FFFFFFF",
    "18446744073709551616",
};
constexpr std::string_view kNestingTags[] = {"<d>", "<Pre>", "<Action>", "<a b=\"c\">", "<![CDATA[", "<!--"};

bool IsNameByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
         c == '-' || c == '.';
}

// Where each of the input's start tags begins.
std::vector<size_t> StartTags(const std::string& input) {
  std::vector<size_t> tags;
  for (size_t i = 0; i + 1 < input.size(); ++i) {
    if (input[i] == '<' && IsNameByte(input[i + 1])) tags.push_back(i);
  }
  return tags;
}

// The element that starts at start: to its end tag, else to the end of its start tag.
std::string_view ElementAt(const std::string& input, size_t start) {
  const size_t gt = input.find('>', start);
  if (gt == std::string::npos) return {};
  size_t nameEnd = start + 1;
  while (nameEnd < input.size() && IsNameByte(input[nameEnd])) ++nameEnd;
  const std::string closing = "</" + input.substr(start + 1, nameEnd - start - 1) + ">";
  const size_t close = input[gt - 1] == '/' ? std::string::npos : input.find(closing, gt);
  const size_t end = close == std::string::npos ? gt + 1 : close + closing.size();
  return std::string_view(input).substr(start, end - start);
}

// Where each name="value" attribute of the input begins and ends.
std::vector<std::pair<size_t, size_t>> Attributes(const std::string& input) {
  std::vector<std::pair<size_t, size_t>> found;
  for (size_t i = 1; i + 1 < input.size(); ++i) {
    if (input[i] != '=' || (input[i + 1] != '"' && input[i + 1] != '\'')) continue;
    size_t start = i;
    while (start > 0 && IsNameByte(input[start - 1])) --start;
    const size_t close = input.find(input[i + 1], i + 2);
    if (start == i || start == 0 || close == std::string::npos) continue;
    found.emplace_back(start - 1, close + 1);  // with the blank before the name
  }
  return found;
}

}  // namespace

Mutator::Mutator(std::vector<std::string> seeds, std::vector<std::string> dictionary, size_t maxBytes)
    : seeds_(std::move(seeds)), dictionary_(std::move(dictionary)), maxBytes_(maxBytes) {}

std::string Mutator::Make(Prng& prng) const {
  std::string input = seeds_[prng.Below(seeds_.size())];
  if (prng.OneIn(kUnchangedSeedOneIn)) return input;
  const size_t count = 1 + prng.Below(kMaxMutationsPerInput);
  for (size_t i = 0; i < count; ++i) {
    Apply(static_cast<Mutation>(prng.Below(static_cast<size_t>(Mutation::kCount))), input, prng);
  }
  return input;
}

size_t Mutator::Position(const std::string& input, Prng& prng) const { return prng.Below(input.size() + 1); }

void Mutator::Insert(std::string& input, size_t at, const std::string& bytes) const {
  if (input.size() >= maxBytes_) return;
  input.insert(std::min(at, input.size()), bytes.substr(0, maxBytes_ - input.size()));
}

void Mutator::Apply(Mutation mutation, std::string& input, Prng& prng) const {
  switch (mutation) {
    case Mutation::kBitFlip: {
      if (input.empty()) break;
      for (size_t flips = 1 + prng.Below(8); flips > 0; --flips) {
        input[prng.Below(input.size())] ^= static_cast<char>(1u << prng.Below(8));
      }
      break;
    }
    case Mutation::kInsertBytes: {
      std::string bytes;
      for (size_t n = 1 + prng.Below(16); n > 0; --n) {
        bytes += prng.OneIn(2) ? static_cast<char>(prng.Below(256))
                               : kInterestingBytes[prng.Below(kInterestingBytes.size())];
      }
      Insert(input, Position(input, prng), bytes);
      break;
    }
    case Mutation::kDeleteBytes: {
      if (input.empty()) break;
      const size_t at = prng.Below(input.size());
      const size_t most = prng.OneIn(8) ? input.size() - at : std::min<size_t>(input.size() - at, 16);
      input.erase(at, 1 + prng.Below(most));
      break;
    }
    case Mutation::kSplice: {
      const std::string& other = seeds_[prng.Below(seeds_.size())];
      input = input.substr(0, Position(input, prng)) + other.substr(prng.Below(other.size() + 1));
      if (input.size() > maxBytes_) input.resize(maxBytes_);
      break;
    }
    case Mutation::kDuplicateElement: {
      const std::vector<size_t> tags = StartTags(input);
      if (tags.empty()) return Apply(Mutation::kRepeatChunk, input, prng);
      const size_t start = tags[prng.Below(tags.size())];
      const std::string element(ElementAt(input, start));
      std::string copies;
      for (size_t n = 1 + prng.Below(prng.OneIn(8) ? kMaxDuplicates : 3); n > 0 && copies.size() < maxBytes_; --n) {
        copies += element;
      }
      Insert(input, start + element.size(), copies);
      break;
    }
    case Mutation::kDuplicateAttribute: {
      const auto attributes = Attributes(input);
      if (attributes.empty()) return Apply(Mutation::kDictionaryWord, input, prng);
      const auto [start, end] = attributes[prng.Below(attributes.size())];
      const std::string attribute = input.substr(start, end - start);
      std::string copies;
      for (size_t n = 1 + prng.Below(prng.OneIn(8) ? kMaxDuplicates : 3); n > 0 && copies.size() < maxBytes_; --n) {
        copies += attribute;
      }
      Insert(input, end, copies);
      break;
    }
    case Mutation::kDeepNesting: {
      const std::string_view tag = kNestingTags[prng.Below(std::size(kNestingTags))];
      const size_t depth = 1 + prng.Below(prng.OneIn(4) ? kMaxNestingDepth : 300);
      std::string opening;
      for (size_t n = 0; n < depth && opening.size() < maxBytes_ / 2; ++n) opening += tag;
      const size_t at = Position(input, prng);
      Insert(input, at, opening);
      if (prng.OneIn(2) && tag.front() == '<' && tag[1] != '!') {  // closed again, so that the document stays whole
        const size_t nameEnd = tag.find_first_of(" >");
        const std::string closing = "</" + std::string(tag.substr(1, nameEnd - 1)) + ">";
        std::string closings;
        for (size_t n = opening.size() / tag.size(); n > 0; --n) closings += closing;
        Insert(input, at + opening.size() + prng.Below(input.size() - std::min(input.size(), at + opening.size()) + 1),
               closings);
      }
      break;
    }
    case Mutation::kHugeValue: {
      if (prng.OneIn(2)) {
        const char fill = "9aA &<\"\\ x;:/%"[prng.Below(14)];
        Insert(input, Position(input, prng), std::string(1 + prng.Below(prng.OneIn(4) ? maxBytes_ : 600), fill));
        break;
      }
      const std::string number(kHugeNumbers[prng.Below(std::size(kHugeNumbers))]);
      // In place of a run of digits when there is one, so that number fields get it.
      const size_t digit = input.find_first_of("0123456789", prng.Below(input.size() + 1));
      if (digit == std::string::npos) {
        Insert(input, Position(input, prng), number);
        break;
      }
      const size_t end = std::min(input.find_first_not_of("0123456789", digit), input.size());
      input.erase(digit, end - digit);
      Insert(input, digit, number);
      break;
    }
    case Mutation::kNulBytes: {
      if (!input.empty() && prng.OneIn(2)) {
        input[prng.Below(input.size())] = '\0';
      } else {
        Insert(input, Position(input, prng), std::string(1 + prng.Below(8), '\0'));
      }
      break;
    }
    case Mutation::kInvalidUtf8:
      Insert(input, Position(input, prng), std::string(kInvalidUtf8[prng.Below(std::size(kInvalidUtf8))]));
      break;
    case Mutation::kCodePageBytes: {
      if (prng.OneIn(2)) {
        Insert(input, Position(input, prng), std::string(kCodePageRuns[prng.Below(std::size(kCodePageRuns))]));
      } else if (!input.empty()) {
        input[prng.Below(input.size())] = static_cast<char>(0x80 + prng.Below(0x80));
      }
      break;
    }
    case Mutation::kDictionaryWord: {
      if (dictionary_.empty()) return Apply(Mutation::kInsertBytes, input, prng);
      const std::string& word = dictionary_[prng.Below(dictionary_.size())];
      const size_t at = Position(input, prng);
      if (prng.OneIn(2)) input.erase(at, prng.Below(word.size() + 1));  // in place of what was there
      Insert(input, at, word);
      break;
    }
    case Mutation::kRepeatChunk: {
      if (input.empty()) break;
      const size_t from = prng.Below(input.size());
      const std::string chunk = input.substr(from, 1 + prng.Below(std::min<size_t>(input.size() - from, 256)));
      std::string copies;
      for (size_t n = 1 + prng.Below(prng.OneIn(8) ? 64 : 2); n > 0 && copies.size() < maxBytes_; --n) copies += chunk;
      Insert(input, Position(input, prng), copies);
      break;
    }
    case Mutation::kCount:
      break;
  }
}

}  // namespace fuzz
